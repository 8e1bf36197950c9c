#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "read/read.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using Phylo::Read::Input_Format;
using Text_IO::Text_Input;

// Labels and values of the one matrix of an input, or the error it raises.
std::string Read_Matrix(Text_Input& in, Input_Format format, bool discrete) {
  std::string out;
  try {
    if (discrete) {
      const auto data = Phylo::Read::Get(in, format, Phylo::Read::Whitespace());
      for (int t = 0; t < data->Taxa(); ++t) {
        const auto row = data->Matrix.Row(t);
        out += data->Labels[static_cast<std::size_t>(t)] + "|" + std::string(row.begin(), row.end()) + "\n";
      }
    } else {
      const auto data = Phylo::Read::Get(in, format);
      for (int t = 0; t < data->Taxa(); ++t) {
        out += data->Labels[static_cast<std::size_t>(t)] + "|";
        for (double v : data->Matrix.Row(t)) {
          char buf[32];
          out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr).append(" ");
        }
        out += "\n";
      }
    }
    if (!in.At_End_Of_Input()) out += "-- more input\n";
  } catch (const Errors::Error& e) {
    out += std::string(e.Name()) + ": " + e.what() + "\n";
  }
  return out;
}

std::string Read_Text(const std::string& text, Input_Format format, bool discrete = false) {
  Text_Input in(text);
  return Read_Matrix(in, format, discrete);
}

// A scratch file that is removed at the end.
struct Scratch_File {
  std::string name = "/tmp/karvel_table_test_XXXXXX";
  explicit Scratch_File(const std::string& bytes) {
    const int fd = ::mkstemp(name.data());
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  }
  ~Scratch_File() { std::remove(name.c_str()); }
};

std::string Gzip(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Read_File(const std::string& bytes, Input_Format format, bool discrete = false) {
  Scratch_File file(bytes);
  return Read_Matrix(*Text_Input::Open(file.name), format, discrete);
}

const std::string Phylip = "3 3\nsite_1 1 2.5 0\nsite2 3 0 10\nsite\"3 0.125 -1 7\n";

} // namespace

// What the end-to-end cases do not show: a byte-order mark, an index name,
// quoted numbers and symbols, blanks around values, no last line feed.
TEST(Read_Table, CornersOfTheLayout) {
  EXPECT_EQ(Read_Text("\xEF\xBB\xBFid,\"a, b\",\"line\nfeed\",\"say \"\"x\"\"\"\nsite_1,\"1\",2.5,0\nsite2, 3 ,0,1e1\n"
                      "site\"3,.125,-1.0,7",
                      Input_Format::CSV),
            Read_Text(Phylip, Input_Format::EXTENDED_PHYLIP));
  EXPECT_EQ(Read_Text("x\ta\tb\tc\n\"my taxon\"\tA\t\t?\nt2\tNA\t\"\"\"\"\tc", Input_Format::TSV, true),
            "my taxon|A??\nt2|?\"c\n");
  // R's write.table: no cell above the labels.
  EXPECT_EQ(Read_Text("\"a\"\t\"b\"\n\n\"t1\"\tA\tC\n\"t2\"\tG\tT\n", Input_Format::TSV, true), "t1|AC\nt2|GT\n");
}

TEST(Read_Table, ErrorsSayWhereAndWhat) {
  const std::string head = ",Achimill,Agrostol\n";
  const std::string missing_note = " (continuous data have no missing values; the formulas -f and -n take negative "
                                   "values as missing, so write them as -1 for those)";
  const struct {
    std::string text;
    bool discrete;
    std::string error;
  } cases[] = {
      {head + "site1,1,2\nsite3,NA,2\n", false,
       "3:7: expected a number for character 'Achimill' of taxon 'site3', found 'NA'" + missing_note},
      {head + "site3,1,\n", false,
       "2:9: expected a number for character 'Agrostol' of taxon 'site3', found ''" + missing_note},
      {head + "site3,1,2x\n", false, "2:9: expected a number for character 'Agrostol' of taxon 'site3', found '2x'"},
      {head + "s,1,1e999\n", false,
       "2:5: expected a number within the range of a double for character 'Agrostol' of taxon 's', found '1e999'"},
      {head + "\nsite3,1\n", false,
       "3:8: expected a value for character 'Agrostol' (2 of 2) of taxon 'site3', found the end of the row"},
      {head + "site3,1,2,3\n", false, "2:11: expected the end of the row of taxon 'site3' after its 2 values, found '3'"},
      {head + "site3,A,BC\n", true, "2:9: expected one symbol for character 'Agrostol' of taxon 'site3', found 'BC'"},
      {head + "site3,\"A\"B,C\n", true,
       "2:10: expected a separator or the end of the line after the closing quote, found 'B'"},
      {head + "\"site3,A,B\n", true,
       "2:1: expected the closing quote of the field that starts here, found the end of the input"},
      {head + "\n\n", true, "4:1: expected a row for each taxon after the header, found the end of the input"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Read_Text(c.text, Input_Format::CSV, c.discrete), "DATA_ERROR: " + c.error + "\n") << c.text;
}

// Rows stand one to a line, so big tables are read on several threads; a
// quoted line feed, a blank line or an error must not change what is read.
TEST(Read_Table, ThreadsReadWhatOneThreadReads) {
  Test_Support::Settings_Scope settings;
  auto table = [](int taxa, int chars) {
    std::string text = "\"\"";
    for (int c = 0; c < chars; ++c) text += ",\"c" + std::to_string(c) + "\"";
    text += "\r\n";
    for (int t = 0; t < taxa; ++t) {
      text += "\"taxon " + std::to_string(t) + "\"";
      for (int c = 0; c < chars; ++c) text += "," + std::to_string((t * 31 + c * 17) % 1000) + "." + std::to_string(c);
      text += "\r\n";
    }
    return text;
  };
  auto change = [](std::string text, const std::string& label, const std::string& first_value) {
    const std::size_t cell = text.find(",", text.find(label)) + 1;
    return text.replace(cell, text.find(",", cell) - cell, first_value);
  };
  const std::string small = table(3000, 50);
  // More than one window of a file: the second holds a quoted line feed,
  // from which on one thread reads, and a missing value after it.
  std::string big = change(table(4500, 400), "taxon 4400\"", "NaN");
  big.replace(big.find("taxon 4200\""), 10, "taxon\n4200");
  big.insert(big.find("\"taxon 1000\""), "\r\n\n");
  ASSERT_GT(big.size(), std::size_t{9} << 20);
  const std::string texts[] = {small, change(small, "taxon 2000\"", "\"\"\"\""), big};
  for (const std::string& text : texts) {
    settings.Threads(1);
    const std::string want = Read_Text(text, Input_Format::CSV);
    settings.Threads(3);
    EXPECT_TRUE(Read_Text(text, Input_Format::CSV) == want);
    EXPECT_TRUE(Read_File(text, Input_Format::CSV) == want);
  }
  EXPECT_EQ(Read_Text(big, Input_Format::CSV).substr(0, 57),
            "DATA_ERROR: 4405:14: expected a number for character 'c0'");
}

// gzip input reads as its text, also in members; the size of the text is
// only expected (from the trailer), not known; damage is a format error.
TEST(Read_Table, GzipInput) {
  const std::string want = Read_Text(Phylip, Input_Format::EXTENDED_PHYLIP);
  EXPECT_EQ(Read_File(Gzip(Phylip.substr(0, 20)) + Gzip(Phylip.substr(20)), Input_Format::EXTENDED_PHYLIP), want);
  Scratch_File file(Gzip(Phylip));
  EXPECT_EQ(Text_Input::Open(file.name)->Known_Bytes_Left(), std::nullopt);
  EXPECT_EQ(Text_Input::Open(file.name)->Expected_Bytes_Left().value_or(0), Phylip.size());
  std::string damaged = Gzip(Phylip);
  damaged[damaged.size() / 2] ^= 0x55;
  EXPECT_EQ(Read_File(damaged, Input_Format::EXTENDED_PHYLIP).substr(0, 37),
            "DATA_ERROR: not a valid gzip stream: ");
  EXPECT_EQ(Read_File(Gzip(Phylip).substr(0, 30), Input_Format::EXTENDED_PHYLIP),
            "DATA_ERROR: not a valid gzip stream: the compressed data end too early (after byte 30 of the "
            "compressed input, in line 2 of its text)\n");
}
