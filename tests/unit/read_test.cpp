#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <random>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "diagnostics/errors.hpp"
#include "threads/parallel.hpp"
#include "read/read.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using Phylo::Read::Input_Format;
using Text_IO::Text_Input;

struct Discrete_Result {
  std::vector<std::string> labels;
  std::vector<std::string> rows;
};

Discrete_Result Flatten(const Phylo::Disc_Data& data) {
  Discrete_Result r{data.Labels, {}};
  for (int t = 0; t < data.Taxa(); ++t) {
    auto row = data.Matrix.Row(t);
    r.rows.emplace_back(row.begin(), row.end());
  }
  return r;
}

Discrete_Result Read_Discrete(const std::string& text, Input_Format format = Input_Format::EXTENDED_PHYLIP) {
  Text_Input in(text);
  return Flatten(*Phylo::Read::Get(in, format, Phylo::Read::Whitespace()));
}

std::vector<double> Read_Real_Row(const std::string& values) {
  Text_Input in("1 " + std::to_string(std::count(values.begin(), values.end(), ' ') + 1) + "\nt " + values + "\n");
  auto data = Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP);
  auto row = data->Matrix.Row(0);
  return {row.begin(), row.end()};
}

using Strings = std::vector<std::string>;

} // namespace

TEST(Read, FourLayoutsOfOneMatrix) {
  const Strings rows{"ACGT", "AC-T", "AGGT"};
  struct Case {
    Input_Format format;
    const char* text;
    Strings labels;
  } cases[] = {
      {Input_Format::PHYLIP, "3 4\nHomo sap  ACGT\nPan       AC-T\nGorilla   AGGT\n", {"Homo sap", "Pan", "Gorilla"}},
      {Input_Format::EXTENDED_PHYLIP, "3 4\nHomo_sapiens ACGT\nPan AC-T\nGorilla AGGT\n",
       {"Homo_sapiens", "Pan", "Gorilla"}},
      {Input_Format::COMMENTED_PHYLIP, "3 4\nHomo_sapiens human ACGT\nPan chimp AC-T\nGorilla gorilla AGGT\n",
       {"Homo_sapiens", "Pan", "Gorilla"}},
  };
  for (const Case& c : cases) {
    Text_Input in(c.text);
    auto data = Phylo::Read::Get(in, c.format, Phylo::Read::Whitespace());
    EXPECT_EQ(data->Taxa(), 3);
    Discrete_Result r = Flatten(*data);
    EXPECT_EQ(r.labels, c.labels) << c.text;
    EXPECT_EQ(r.rows, rows) << c.text;
    EXPECT_TRUE(in.At_End_Of_Line()); // left on the line feed of the last record
  }
}

TEST(Read, RecordsSpreadOverLinesAndSeparators) {
  // Label alone on its line, values over several lines and with blanks in
  // between; text after the last value is dropped with the rest of the line.
  Discrete_Result r = Read_Discrete("\n\n 3\n 4 s extra\nHomo\nA C\n\nG T\nPan AC-T extra words\nGor\tAGGT\n");
  EXPECT_EQ(r.labels, (Strings{"Homo", "Pan", "Gor"}));
  EXPECT_EQ(r.rows, (Strings{"ACGT", "AC-T", "AGGT"}));
}

TEST(Read, ControlBytesAreBlanksAndHighBytesAreValues) {
  // Bytes from 128 up, UTF-8 continuation bytes among them, are part of words.
  Discrete_Result r = Read_Discrete("1 4\nG\x80or\x85 A\x7f\x9f\x01G\xa0\xff\n");
  EXPECT_EQ(r.labels, Strings{"G\x80or\x85"});
  EXPECT_EQ(r.rows, Strings{"A\x9fG\xa0"});
  r = Read_Discrete("\xef\xbb\xbf" "2 1\n\xc3\x85land A\n\xc5\x81\xc3\xb3" "d\xc5\xba\x7fG\n"); // byte-order mark, Åland, Łódź
  EXPECT_EQ(r.labels, (Strings{"\xc3\x85land", "\xc5\x81\xc3\xb3" "d\xc5\xba"}));
  EXPECT_EQ(r.rows, (Strings{"A", "G"}));
  // Another skip set governs the values only; line feeds are still passed over.
  Text_Input in("1 4\nA\x01" "B -x\n-C\n");
  Discrete_Result own = Flatten(*Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP, TextUtils::To_Set("-")));
  EXPECT_EQ(own.labels, Strings{"A"});
  EXPECT_EQ(own.rows, Strings{"B xC"});
}

TEST(Read, ShortRecordTakesTheNextLine) {
  Discrete_Result r = Read_Discrete("2 4\nPan AC\nGor AGGT\nHylo CCCC\n");
  EXPECT_EQ(r.rows, (Strings{"ACGo", "CCCC"})); // out of step: the next label's letters became values
  EXPECT_EQ(r.labels[1], "Hylo");
  Text_Input in("2 4\nPan 1 2\nGor 1 2 3 4\n");
  EXPECT_THROW(Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP), Errors::Data_Error);
}

TEST(Read, FixedWidthLabels) {
  Discrete_Result r = Read_Discrete("3 2\nHomo sapiens\nShort\n     AC\n          GT\n", Input_Format::PHYLIP);
  EXPECT_EQ(r.labels, (Strings{"Homo sapie", "Short", ""}));
  // "Short" lends the rest of its field from the next line, line feed not counted.
  EXPECT_EQ(r.rows, (Strings{"ns", "AC", "GT"}));
  Text_Input in("1 2\nHomo sapiens 1 2\n");
  EXPECT_THROW(Phylo::Read::Get(in, Input_Format::PHYLIP), Errors::Data_Error);
}

TEST(Read, CommentWord) {
  Discrete_Result r = Read_Discrete("2 4\nPan chimp AC-T\nGor AGGT\nACGT\n", Input_Format::COMMENTED_PHYLIP);
  EXPECT_EQ(r.labels, (Strings{"Pan", "Gor"}));
  EXPECT_EQ(r.rows, (Strings{"AC-T", "ACGT"})); // AGGT was taken as the comment
}

TEST(Read, NoCharacters) {
  Discrete_Result r = Read_Discrete("2 0\nPan rest of line\nGor\n");
  EXPECT_EQ(r.labels, (Strings{"Pan", "Gor"}));
  EXPECT_EQ(r.rows, (Strings{"", ""}));
}

TEST(Read, BadHeaders) {
  auto get = [](const char* text) {
    Text_Input in(text);
    Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP, Phylo::Read::Whitespace());
  };
  EXPECT_THROW(get("0 4\nPan ACGT\n"), Errors::Constraint_Error);
  EXPECT_THROW(get("-1 4\n"), Errors::Constraint_Error);
  EXPECT_THROW(get("3 -4\n"), Errors::Constraint_Error);
  EXPECT_THROW(get("three 4\n"), Errors::Data_Error);
  EXPECT_THROW(get("0 x\n"), Errors::Data_Error); // the second count is read before 0 taxa is refused
  EXPECT_THROW(get("3 2147483648\n"), Errors::Data_Error);
  EXPECT_THROW(get("-2147483649 1\n"), Errors::Data_Error);
  EXPECT_THROW(get("+-3 1\n"), Errors::Data_Error);
  EXPECT_THROW(get("-2147483648 1\n"), Errors::Constraint_Error); // in range, but negative
  EXPECT_THROW(get("3"), Errors::End_Error);
  EXPECT_THROW(get(" \n\t\n"), Errors::End_Error);
}

TEST(Read, AcceptedNumbers) {
  const std::vector<double> v = Read_Real_Row(
      "1 -2.5 +.5 1e3 2.5E-2 007 -0 1e-999 -1e-999 4e-320 1.7976931348623157e308 "
      "0.1000000000000000055511151231257827021181583404541015625000000000000000000000000001 00.001e+2");
  const std::vector<double> expected{
      1, -2.5, 0.5, 1000, 0.025, 7, -0.0, 0.0, -0.0, 4e-320, 1.7976931348623157e308, 0.1, 0.1};
  ASSERT_EQ(v.size(), expected.size());
  for (std::size_t k = 0; k < v.size(); ++k) {
    EXPECT_EQ(v[k], expected[k]) << k;
    EXPECT_EQ(std::signbit(v[k]), std::signbit(expected[k])) << k;
  }
}

// Short decimals take a shortcut past from_chars; it must agree with it bit
// for bit, on both sides of every limit of the shortcut (integers around
// 2^53, 19 digits, leading zeros, signs).
TEST(Read, EveryDecimalAsFromCharsReadsIt) {
  std::mt19937_64 random(7);
  std::string row;
  std::vector<double> expected;
  const std::string digits = "0123456789";
  for (int k = 0; k < 200000; ++k) {
    std::string text;
    const int sign = static_cast<int>(random() % 3);
    if (sign == 1) text += '-';
    if (sign == 2) text += '+';
    const int whole = static_cast<int>(random() % 21);
    const int fraction = whole == 0 ? 1 + static_cast<int>(random() % 26) : static_cast<int>(random() % 26);
    // Runs of 9s and of 0s push the integer right to the edges.
    const int style = static_cast<int>(random() % 4);
    auto digit = [&] { return style == 0 ? '9' : style == 1 ? '0' : digits[random() % 10]; };
    for (int d = 0; d < whole; ++d) text += digit();
    if (fraction > 0) {
      text += '.';
      for (int d = 0; d < fraction; ++d) text += digit();
    }
    if (style == 3 && random() % 4 == 0) text = text.substr(0, text.size() - 1) + '1';
    double value = 0;
    const char* first = text.data() + (sign != 0);
    std::from_chars(first, text.data() + text.size(), value);
    expected.push_back(sign == 1 ? -value : value);
    row += (k ? " " : "") + text;
  }
  const std::vector<double> v = Read_Real_Row(row);
  ASSERT_EQ(v.size(), expected.size());
  for (std::size_t k = 0; k < v.size(); ++k) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(v[k]), std::bit_cast<std::uint64_t>(expected[k])) << k;
  }
  // Around 2^53, and more than 19 digits (the last two would come out one
  // bit off by a division by 10^23 or 10^24).
  for (const char* text : {"9007199254740992", "9007199254740993", "900719925474099.3", "90071992547409.93",
                           "0.000000000000012345678901", "0.00000000000001234567890123", "0.000000000000009007199254740993",
                           "0.00000001062116443042877", "0.000000004253608691488932"}) {
    double value = 0;
    std::from_chars(text, text + std::char_traits<char>::length(text), value);
    EXPECT_EQ(Read_Real_Row(text), std::vector<double>{value}) << text;
  }
}

TEST(Read, RejectedNumbers) {
  for (const char* text : {"?", "-", "NA", ".", "1.", "1.e5", "1e", "1e+", "-.e1", "1e999", "-1e400", "inf", "nan"}) {
    Text_Input in(std::string(text) + " 5");
    EXPECT_THROW(Phylo::Read::Read_Real(in), Errors::Data_Error) << text;
  }
  Text_Input in("2 2\nA 1 2\nB 3 NA\n");
  try {
    Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP);
    ADD_FAILURE() << "NA was read as a number";
  } catch (const Errors::Data_Error& e) {
    EXPECT_STREQ(e.what(), "3:5: expected a number for value 2 of taxon 2 of 2 (missing values are not allowed "
                           "in continuous data; -f and -n treat negative values as missing), found 'NA'");
  }
}

// Each message points at the text (line and byte column from 1) and shows
// it as the user would find it in an editor.
TEST(Read, WrongTextMessages) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"5 Achimill Agrostol\n", "1:3: expected the number of characters after the number of taxa, found 'Achimill'"},
      {"\xef\xbb\xbfname,x,y\n", "1:1: expected the number of taxa, found 'name,x,y'"},
      {"\n  3 99999999999\n", "2:5: expected the number of characters after the number of taxa within the 32-bit "
                             "integer range, found '99999999999'"},
      {"1 3\nA 1 2,5 3\n", "2:5: expected a number (decimal point, not comma) for value 2 of taxon 1 of 1, found '2,5'"},
      {"1 2\nA 1e999 2\n", "2:3: expected a number within the range of a double for value 1 of taxon 1 of 1, found '1e999'"},
      {"1 2\nA 1 x\f\n", "2:5: expected a number for value 2 of taxon 1 of 1, found 'x'"},
      {"1 2\nA 1 \f\n", "2:5: expected a number for value 2 of taxon 1 of 1, found a byte with code 12"},
      {"1 1\nA x123456789abcdefghij\n", "2:3: expected a number for value 1 of taxon 1 of 1, found 'x123456789abcdef'"},
      // A letter is not cut in two; a byte of another encoding shows by its code.
      {"1 1\nA x\xc5\x81\xc5\x81\xc5\x81\xc5\x81\xc5\x81\xc5\x81\xc5\x81\xc5\x81", "2:3: expected a number for value 1 of taxon 1 of 1, found 'xŁŁŁŁŁŁŁ'"},
      {"1 1\nA caf\xe9\n", "2:3: expected a number for value 1 of taxon 1 of 1, found 'caf\\xE9'"},
  };
  for (const auto& c : cases) {
    Text_Input in(c.text);
    try {
      Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const Errors::Data_Error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(Read, NumberLeavesTheFollowingCharacter) {
  Text_Input in(" \r\n\t-12x 3.5e2,7\n");
  EXPECT_EQ(Phylo::Read::Read_Integer(in), -12);
  EXPECT_EQ(in.Peek(), 'x');
  in.Get();
  EXPECT_EQ(Phylo::Read::Read_Real(in), 350.0);
  EXPECT_EQ(in.Peek(), ',');
  Text_Input rest("\r\n \n");
  EXPECT_THROW(Phylo::Read::Read_Real(rest), Errors::End_Error);
}

TEST(Read, CarriageReturnLineEnds) {
  Discrete_Result r = Read_Discrete("2 4\r\nPan\r\nAC\r\nGT\r\nGor AGGT\r\n");
  EXPECT_EQ(r.labels, (Strings{"Pan", "Gor"}));
  EXPECT_EQ(r.rows, (Strings{"ACGT", "AGGT"}));
  Text_Input in("2\r\n3\r\nPan 1\r\n2 3\r\nGor 4 5 6\r\n");
  auto data = Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP);
  EXPECT_EQ(data->Matrix.Row(0)[2], 3.0);
  EXPECT_EQ(data->Matrix.Row(1)[2], 6.0);
  EXPECT_EQ(in.Peek(), -1); // the CR after the last value went with the rest of its line
}

TEST(Read, ConsecutiveMatricesAndWhereTheyEnd) {
  Text_Input in("1 2\nA 1 2\n2 1\nB 3\nC 4");
  auto first = Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP);
  EXPECT_EQ(in.Peek(), '\n'); // the last value ended the line: its line feed stays
  auto second = Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP);
  EXPECT_EQ(first->Labels, Strings{"A"});
  EXPECT_EQ(second->Labels, (Strings{"B", "C"}));
  EXPECT_EQ(second->Matrix.Row(1)[0], 4.0); // no final line feed needed
  EXPECT_TRUE(in.At_End_Of_Input());
  EXPECT_THROW(Phylo::Read::Get(in, Input_Format::EXTENDED_PHYLIP), Errors::End_Error);
}

TEST(Read, InputEndingEarly) {
  struct Case {
    Input_Format format;
    const char* text;
    const char* message; // part of the message
  } cases[] = {
      {Input_Format::EXTENDED_PHYLIP, "2 4\n", "line 2 inside the matrix that starts on line 1: the label of taxon 1"},
      {Input_Format::EXTENDED_PHYLIP, "\n3\n", "line 3 inside the matrix that starts on line 2: the header"},
      {Input_Format::EXTENDED_PHYLIP, "1 4\nA AC\n\nG",
       "line 4 inside the matrix that starts on line 1: taxon 1 of 1 has 3 of 4 values"},
      {Input_Format::EXTENDED_PHYLIP, "2 4\nA ACGT\n  \n", "the label of taxon 2 of 2 is missing"},
      {Input_Format::PHYLIP, "1 4\nHomo\n", "has only 4 of its 10 characters"},
      {Input_Format::COMMENTED_PHYLIP, "1 4\nHomo\n", "the comment word after the label of taxon 1 of 1"},
  };
  for (const Case& c : cases) {
    Text_Input in(c.text);
    try {
      Phylo::Read::Get(in, c.format, Phylo::Read::Whitespace());
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const Errors::End_Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  Text_Input real("1 3\nA 1 2");
  EXPECT_THROW(Phylo::Read::Get(real, Input_Format::EXTENDED_PHYLIP), Errors::End_Error);
}

// A header promising 10^11 values must not be taken at its word: were it
// reserved, the test would end in bad_alloc instead of the input's error.
TEST(Read, FalseHeaderPromiseFailsAtOnce) {
  Text_Input discrete("1000000 100000\nA ACGT\nB ACGT\n");
  EXPECT_THROW(Phylo::Read::Get(discrete, Input_Format::EXTENDED_PHYLIP, Phylo::Read::Whitespace()),
               Errors::End_Error);
  Text_Input real("1000000 100000\nA 1 2 3\n");
  EXPECT_THROW(Phylo::Read::Get(real, Input_Format::EXTENDED_PHYLIP), Errors::End_Error);
}

// Numbers, labels and runs of values that cross the boundary of the input
// buffer read as they do from memory.
TEST(Read, TextAcrossBufferRefills) {
  const std::string row = "t" + std::string(300, ' ') +
                          "0.5 -1.25e+2 12345678901234567890.0000000000000000000000000000000000001e-19 7";
  std::string text = "1 4\n" + row + "\n";
  char name[] = "/tmp/karvel_read_test_XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  for (std::size_t shift = 0; shift < row.size() - 290; ++shift) {
    // Blank lines before the header move the text so that the buffer ends
    // at every position of the row in turn.
    const std::string padded = std::string((1 << 20) - 4 - 300 - shift, '\n') + text;
    std::FILE* f = std::fopen(name, "wb");
    std::fwrite(padded.data(), 1, padded.size(), f);
    std::fclose(f);
    auto in = Text_Input::Open(name);
    EXPECT_EQ(in->Known_Bytes_Left(), padded.size());
    auto data = Phylo::Read::Get(*in, Input_Format::EXTENDED_PHYLIP);
    auto values = data->Matrix.Row(0);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0], 0.5);
    EXPECT_EQ(values[1], -125.0);
    EXPECT_EQ(values[2], 12345678901234567890.0000000000000000000000000000000000001e-19);
    EXPECT_EQ(values[3], 7.0);
    EXPECT_EQ(in->Line(), (1 << 20) - 4 - 300 - static_cast<long>(shift) + 2);
  }
  std::remove(name);
}

namespace {

// All the reader makes of a text, matrix after matrix, or the error it ends
// with; values by their shortest exact text.
std::string Read_All(Text_Input& in, Input_Format format, bool discrete) {
  std::string out;
  try {
    while (!in.At_End_Of_Input()) {
      if (discrete) {
        const Discrete_Result r = Flatten(*Phylo::Read::Get(in, format, Phylo::Read::Whitespace()));
        for (std::size_t t = 0; t < r.labels.size(); ++t) out += r.labels[t] + "|" + r.rows[t] + "\n";
      } else {
        const auto data = Phylo::Read::Get(in, format);
        for (int t = 0; t < data->Taxa(); ++t) {
          out += data->Labels[static_cast<std::size_t>(t)] + "|";
          for (double v : data->Matrix.Row(t)) {
            char buf[32];
            out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
            out += ' ';
          }
          out += '\n';
        }
      }
      out += "-- line " + std::to_string(in.Line()) + "\n";
    }
  } catch (const Errors::Error& e) {
    out += std::string(e.Name()) + ": " + e.what() + "\n";
  }
  return out;
}

std::string Read_All(const std::string& text, Input_Format format, bool discrete) {
  Text_Input in(text);
  return Read_All(in, format, discrete);
}

// A big matrix, one record a line: `taxa` records of `chars` values.
std::string Big_Matrix(int taxa, int chars, Input_Format format, bool discrete, unsigned seed) {
  std::mt19937 random(seed);
  const char* const numbers[] = {"0", "12.345", "-0.5", "1e3", "7", "0.001", "+3.25", "99999.999"};
  std::string text = std::to_string(taxa) + " " + std::to_string(chars) + "\n";
  for (int t = 0; t < taxa; ++t) {
    std::string label = "taxon_" + std::to_string(t);
    switch (format) {
    case Input_Format::PHYLIP: label.resize(10, ' '); break;
    case Input_Format::COMMENTED_PHYLIP: label += " comment"; break;
    default: break;
    }
    text += label;
    if (format != Input_Format::PHYLIP) text += ' ';
    for (int c = 0; c < chars; ++c) {
      if (discrete)
        text += "ACGT-?"[random() % 6];
      else
        text += std::string(c ? " " : "") + numbers[random() % 8];
    }
    text += '\n';
  }
  return text;
}

// The line that begins record `record` (from 0) of a matrix with a header.
std::size_t Line_Start(const std::string& text, int record) {
  std::size_t at = text.find('\n') + 1;
  for (int r = 0; r < record; ++r) at = text.find('\n', at) + 1;
  return at;
}

} // namespace

// Big matrices are read on several threads when their records stand one to
// a line; whatever the text, the result, the error and the place where the
// next matrix starts must be those of one thread.
TEST(Read, ThreadsReadWhatOneThreadReads) {
  Test_Support::Settings_Scope settings;
  struct Case {
    std::string name;
    std::string text;
    Input_Format format;
    bool discrete;
  };
  std::vector<Case> cases;
  const std::string plain = Big_Matrix(3000, 40, Input_Format::EXTENDED_PHYLIP, false, 1);
  cases.push_back({"plain", plain, Input_Format::EXTENDED_PHYLIP, false});
  for (Input_Format format : {Input_Format::PHYLIP, Input_Format::COMMENTED_PHYLIP})
    cases.push_back({"layout", Big_Matrix(3000, 40, format, false, 2), format, false});
  cases.push_back({"discrete", Big_Matrix(3000, 100, Input_Format::EXTENDED_PHYLIP, true, 3),
                   Input_Format::EXTENDED_PHYLIP, true});
  {
    std::string text = plain;
    text.insert(Line_Start(text, 1500), "\n");
    cases.push_back({"blank line", text, Input_Format::EXTENDED_PHYLIP, false});
  }
  {
    std::string text = plain;
    const std::size_t at = Line_Start(text, 2000);
    text[text.find(' ', text.find(' ', at) + 1)] = '\n'; // the record goes on on the next line
    cases.push_back({"record over two lines", text, Input_Format::EXTENDED_PHYLIP, false});
  }
  {
    std::string text = plain;
    text[text.find(' ', text.find(' ', Line_Start(text, 0)) + 1)] = '\n';
    cases.push_back({"first record over two lines", text, Input_Format::EXTENDED_PHYLIP, false});
  }
  {
    // Threads give up on such a file after their first round, which ends
    // at the third record.
    std::string text = plain;
    for (int record = 2999; record >= 0; record -= 3)
      text[text.find(' ', text.find(' ', Line_Start(text, record)) + 1)] = '\n';
    cases.push_back({"every third record over two lines", text, Input_Format::EXTENDED_PHYLIP, false});
  }
  {
    std::string text = plain;
    text.insert(text.find(' ', Line_Start(text, 2500)) + 1, "NA ");
    cases.push_back({"bad value", text, Input_Format::EXTENDED_PHYLIP, false});
  }
  {
    std::string text = plain;
    text.replace(0, 4, "3500");
    cases.push_back({"fewer records than promised", text, Input_Format::EXTENDED_PHYLIP, false});
  }
  {
    std::string text = plain;
    text.replace(0, 4, "2999");
    text += "2 2\nA 1 2\nB 3 4";
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    cases.push_back({"more records than promised, then a matrix without the last line feed", text,
                     Input_Format::EXTENDED_PHYLIP, false});
    cases.push_back({"carriage returns", crlf, Input_Format::EXTENDED_PHYLIP, false});
  }
  {
    std::string text;
    for (std::size_t at = 0, next; at < plain.size(); at = next + 1) {
      next = plain.find('\n', at);
      text += plain.substr(at, next - at) + (at > 0 ? " and more ignored text\n" : "\n");
    }
    cases.push_back({"text after the values", text, Input_Format::EXTENDED_PHYLIP, false});
  }
  for (const Case& c : cases) {
    settings.Threads(1);
    const std::string want = Read_All(c.text, c.format, c.discrete);
    for (int threads : {2, 3, 7}) {
      settings.Threads(threads);
      const std::string got = Read_All(c.text, c.format, c.discrete);
      ASSERT_EQ(got.size(), want.size()) << c.name << ", " << threads << " threads";
      if (got != want) {
        std::size_t at = 0;
        while (got[at] == want[at]) ++at;
        const std::size_t from = want.rfind('\n', at) + 1;
        FAIL() << c.name << ", " << threads << " threads: at byte " << at << ", one thread: \""
               << want.substr(from, want.find('\n', at) - from) << "\", " << threads << ": \""
               << got.substr(from, got.find('\n', at) - from) << "\"";
      }
    }
  }
}

// More than one window of a file: the buffer grows and moves under the
// windows, and a second matrix follows.
TEST(Read, ThreadsReadAFileOfSeveralWindows) {
  Test_Support::Settings_Scope settings;
  const std::string text = Big_Matrix(2500, 700, Input_Format::EXTENDED_PHYLIP, false, 4) +
                           Big_Matrix(300, 700, Input_Format::EXTENDED_PHYLIP, false, 5);
  ASSERT_GT(text.size(), std::size_t{9} << 20);
  char name[] = "/tmp/karvel_read_test_XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
  std::string results[2];
  for (int k = 0; k < 2; ++k) {
    settings.Threads(k == 0 ? 1 : 2);
    auto in = Text_Input::Open(name);
    results[k] = Read_All(*in, Input_Format::EXTENDED_PHYLIP, false);
  }
  std::remove(name);
  EXPECT_EQ(results[0].find("ERROR"), std::string::npos);
  EXPECT_EQ(results[0].size(), results[1].size());
  EXPECT_TRUE(results[0] == results[1]);
}

// Interleaved PHYLIP: labels in the first block only, blank lines between
// blocks or not, CR LF line ends, two matrices one after the other.
TEST(Read, InterleavedBlocks) {
  const std::string text = "3 7\nHomo sap  AC GT\r\nPan       AC-T\nGorilla   AGGT\n\n  CCA\nCC A\r\n\n CCT\n"
                           "1 2\nx         A\n          C\n";
  Text_Input in(text);
  Discrete_Result first = Flatten(*Phylo::Read::Get(in, Input_Format::PHYLIP_INTERLEAVED, Phylo::Read::Whitespace()));
  EXPECT_EQ(first.labels, (Strings{"Homo sap", "Pan", "Gorilla"}));
  EXPECT_EQ(first.rows, (Strings{"ACGTCCA", "AC-TCCA", "AGGTCCT"}));
  Discrete_Result second = Flatten(*Phylo::Read::Get(in, Input_Format::PHYLIP_INTERLEAVED, Phylo::Read::Whitespace()));
  EXPECT_EQ(second.rows, (Strings{"AC"}));
  EXPECT_TRUE(in.At_End_Of_Input());

  Text_Input real("2 3\nalpha 1.5 2\nbeta_longer_than_ten 0\n-3\n4.25 1e2\n");
  const Phylo::Real_Data_Access data = Phylo::Read::Get(real, Input_Format::EXTENDED_INTERLEAVED);
  EXPECT_EQ(data->Labels, (Strings{"alpha", "beta_longer_than_ten"}));
  const auto b = data->Matrix.Row(1);
  EXPECT_EQ(std::vector<double>(b.begin(), b.end()), (std::vector<double>{0.0, 4.25, 100.0}));
}

TEST(Read, InterleavedErrors) {
  auto message = [](const std::string& text, bool numbers = false) -> std::string {
    Text_Input in(text);
    try {
      if (numbers)
        Phylo::Read::Get(in, Input_Format::EXTENDED_INTERLEAVED);
      else
        Phylo::Read::Get(in, Input_Format::EXTENDED_INTERLEAVED, Phylo::Read::Whitespace());
    } catch (const Errors::Error& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message("2 3\na AC\nb ACGT\n"), "3:6: expected the end of the line: taxon 2 of 2 has its 3 values, found 'T'");
  EXPECT_EQ(message("2 3\na AC\nb AC\nG\n"),
            "the input ends on line 5 inside the matrix that starts on line 1: taxon 2 of 2 has 2 of 3 values");
  EXPECT_EQ(message("2 2\na 1\nb 2\nx\n4\n", true), "4:1: expected a number for value 2 of taxon 1 of 2, found 'x'");
}

// A sequential read of an interleaved file keeps its error and adds a hint;
// an error in a file whose first record stands on its line has none.
TEST(Read, InterleavedFileReadAsSequentialGetsAHint) {
  auto hint = [](const std::string& text, Input_Format format) -> std::string {
    Text_Input in(text);
    try {
      Phylo::Read::Get(in, format, Phylo::Read::Whitespace());
    } catch (const Errors::End_Error& e) {
      const auto* hint = dynamic_cast<const Generic::Hint*>(&e);
      return hint ? hint->Hint_Text() : "none";
    }
    return "no error";
  };
  const std::string interleaved = "2 6\nalpha     ACG\nbeta      ACC\n\nTTT\nTTA\n";
  EXPECT_EQ(hint(interleaved, Input_Format::PHYLIP),
            "looks interleaved (the values of taxon 1 go on past the line of its label); try --from=phylip-interleaved");
  EXPECT_EQ(hint(interleaved, Input_Format::EXTENDED_PHYLIP),
            "looks interleaved (the values of taxon 1 go on past the line of its label); try --from=extended-interleaved");
  EXPECT_EQ(hint("2 6\nalpha ACGTTT\nbeta ACC\n", Input_Format::EXTENDED_PHYLIP), "none");
}
