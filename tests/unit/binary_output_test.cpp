// The npy layouts' bytes and block offsets, the all-or-nothing output file,
// and pairs kept as NaN instead of ending the run.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "distance/distfunc.hpp"
#include "write/output_file.hpp"
#include "write/print_number.hpp"
#include "write/write_binary.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using namespace Phylo;
using Binary_Output::Layout;
namespace fs = std::filesystem;

// The square matrix d(i, j) = 10 i + j, which tells every cell apart.
std::vector<double> Square(std::size_t n) {
  std::vector<double> values(n * n);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) values[i * n + j] = static_cast<double>(10 * i + j);
  return values;
}

// The file written in one block of rows, and row by row: both the same.
std::string Npy_File(std::size_t n, Layout layout) {
  std::string bytes[2];
  const std::vector<double> values = Square(n);
  for (int by_rows : {0, 1}) {
    Text_IO::Text_Output out(&bytes[by_rows]);
    auto writer = Binary_Output::Npy_Writer(out, n, layout);
    if (by_rows)
      for (std::size_t i = 0; i < n; ++i) writer->Put_Row(i, std::span(values).subspan(i * n, n));
    else
      writer->Put_Rows(0, n, values);
    writer->Finish();
    out.Flush();
  }
  EXPECT_EQ(bytes[0], bytes[1]);
  return bytes[0];
}

double Double_At(const std::string& bytes, std::size_t offset) {
  double value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

TEST(Npy, HeaderIsVersionOneAlignedAndDescribesTheArray) {
  for (const auto& [n, layout, shape] : {std::tuple{3u, Layout::NPY, "(3, 3)"}, {4u, Layout::NPY_CONDENSED, "(6,)"},
                                         {0u, Layout::NPY, "(0, 0)"}, {1u, Layout::NPY_CONDENSED, "(0,)"},
                                         {100000u, Layout::NPY_CONDENSED, "(4999950000,)"}}) {
    const std::string header = Binary_Output::Npy_Header(n, layout);
    ASSERT_EQ(header.size() % 64, 0u) << shape;
    EXPECT_EQ(header.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8));
    const std::size_t length = static_cast<unsigned char>(header[8]) | static_cast<unsigned char>(header[9]) << 8;
    EXPECT_EQ(length, header.size() - 10);
    EXPECT_EQ(header.back(), '\n');
    const std::string dict = "{'descr': '<f8', 'fortran_order': False, 'shape': " + std::string(shape) + ", }";
    EXPECT_EQ(header.substr(10, dict.size()), dict);
    EXPECT_EQ(header.find_first_not_of(' ', 10 + dict.size()), header.size() - 1) << "padding is spaces";
  }
}

// Every block's bytes are where Npy_Rows says, so blocks written apart (by
// several processes, say) make the same file as one writer.
TEST(Npy, RowBlocksLieWhereTheirRangesSay) {
  for (Layout layout : {Layout::NPY, Layout::NPY_CONDENSED}) {
    for (std::size_t n : {0u, 1u, 2u, 7u}) {
      const std::string file = Npy_File(n, layout);
      EXPECT_EQ(Binary_Output::Npy_Rows(n, layout, 0, n).Offset, Binary_Output::Npy_Header(n, layout).size());
      EXPECT_EQ(Binary_Output::Npy_Rows(n, layout, n, n).Offset, file.size());
      for (std::size_t first = 0; first <= n; ++first)
        for (std::size_t past = first; past <= n; ++past) {
          const auto range = Binary_Output::Npy_Rows(n, layout, first, past);
          std::size_t offset = range.Offset;
          for (std::size_t i = first; i < past; ++i)
            for (std::size_t j = layout == Layout::NPY ? 0 : i + 1; j < n; ++j, offset += 8)
              ASSERT_EQ(Double_At(file, offset), static_cast<double>(10 * i + j)) << i << ", " << j;
          EXPECT_EQ(offset, range.Offset + range.Size);
        }
    }
  }
  EXPECT_THROW(Binary_Output::Npy_Rows(3, Layout::NPY, 2, 4), Errors::Constraint_Error);
}

TEST(Npy, RowsOutOfOrderOrMissingAreRefused) {
  std::string bytes;
  Text_IO::Text_Output out(&bytes);
  const std::vector<double> row(3, 0.0);
  auto writer = Binary_Output::Npy_Writer(out, 3, Layout::NPY);
  EXPECT_THROW(writer->Put_Row(1, row), Errors::Constraint_Error);
  writer->Put_Row(0, row);
  EXPECT_THROW(writer->Put_Row(1, std::vector<double>(2)), Errors::Constraint_Error);
  EXPECT_THROW(writer->Finish(), Errors::Constraint_Error);
}

class Output_File_Test : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("karvel-output-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void Write(int fd, const std::string& text) {
    Text_IO::Text_Output out(fd);
    out.Put(text);
    out.Flush();
  }

  fs::path folder_;
};

TEST_F(Output_File_Test, OnlyACommittedFileTakesTheName) {
  const fs::path path = folder_ / "out.npy";
  {
    Output::Output_File file(path.string());
    Write(file.Descriptor(), "half");
    EXPECT_EQ(Names().size(), 1u);
    EXPECT_EQ(Names()[0].rfind(".out.npy.karvel-", 0), 0u) << Names()[0];
  }
  EXPECT_TRUE(Names().empty()) << "an abandoned file leaves nothing";

  { std::ofstream(path) << "before"; }
  {
    Output::Output_File file(path.string());
    Write(file.Descriptor(), "half");
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"out.npy"});
  EXPECT_EQ(Read(path), "before");

  {
    Output::Output_File file(path.string());
    Write(file.Descriptor(), "whole");
    file.Commit();
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"out.npy"});
  EXPECT_EQ(Read(path), "whole");
  EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_read, fs::perms::none);
}

TEST_F(Output_File_Test, FoldersAndMissingFoldersAreRefusedAtOnce) {
  EXPECT_THROW(Output::Output_File(folder_.string()), Errors::Device_Error);
  EXPECT_THROW(Output::Output_File((folder_ / "none" / "out.npy").string()), Errors::Device_Error);
  EXPECT_TRUE(Names().empty());
}

// A matrix and its labels: the matrix's rename fails (a folder took its
// name meanwhile), and the labels that were there, or their absence, stay.
TEST_F(Output_File_Test, AMatrixAndItsLabelsAreReplacedTogether) {
  const fs::path matrix = folder_ / "m.npy", labels = folder_ / "m.npy.labels.txt";
  const auto attempt = [&](const std::string& text) {
    Output::Output_File labels_file(labels.string()), matrix_file(matrix.string());
    Write(labels_file.Descriptor(), text);
    Write(matrix_file.Descriptor(), text);
    fs::remove(matrix);
    fs::create_directories(matrix / "inside");
    EXPECT_THROW(Output::Output_File::Commit_Together(labels_file, matrix_file), Errors::Device_Error);
  };
  attempt("new");
  EXPECT_EQ(Names(), std::vector<std::string>{"m.npy"}) << "new labels without their matrix";

  fs::remove_all(matrix);
  { std::ofstream(labels) << "old labels"; }
  attempt("new");
  EXPECT_EQ(Read(labels), "old labels");
  EXPECT_EQ(Names(), (std::vector<std::string>{"m.npy", "m.npy.labels.txt"})) << "no backup or temporary left";

  fs::remove_all(matrix);
  {
    Output::Output_File labels_file(labels.string()), matrix_file(matrix.string());
    Write(labels_file.Descriptor(), "new labels");
    Write(matrix_file.Descriptor(), "new matrix");
    Output::Output_File::Commit_Together(labels_file, matrix_file);
  }
  EXPECT_EQ(Read(labels), "new labels");
  EXPECT_EQ(Read(matrix), "new matrix");
  EXPECT_EQ(Names(), (std::vector<std::string>{"m.npy", "m.npy.labels.txt"}));
}

// A replaced file keeps its mode; through a link, the file it leads to is
// replaced and the link stays.
TEST_F(Output_File_Test, AReplacedFileKeepsItsModeAndItsLink) {
  const fs::path real = folder_ / "real.txt", link = folder_ / "link.txt";
  { std::ofstream(real) << "before"; }
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real.txt", link);
  {
    Output::Output_File file(link.string());
    EXPECT_FALSE(file.Direct());
    Write(file.Descriptor(), "after");
    file.Commit();
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(real), "after");
  EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Names(), (std::vector<std::string>{"link.txt", "real.txt"}));
}

// --- Pairs kept as NaN

Binary_Matrix Binary_Rows(std::initializer_list<std::string_view> rows) {
  Binary_Matrix m;
  for (std::string_view row : rows) {
    for (char ch : row) m.Push(ch == '1' ? Binary::PRESENCE : ch == '0' ? Binary::ABSENCE : Binary::UNKNOWN);
    m.Close_Row();
  }
  return m;
}

// Runs `compute` with and without keeping undefined pairs: the kept run's
// first pair and cause are what the other raises, its NaN cells are the
// `expected` pairs, and every other cell is the same.
template <class Compute>
void Expect_Kept_As_NaN(Compute compute, std::vector<std::pair<int, int>> expected) {
  Distfunc::Undefined_Pairs undefined;
  const Generic::Square_Block kept = compute(&undefined);
  std::string raised;
  int raised_i = -1, raised_j = -1;
  try {
    compute(nullptr);
  } catch (const Distfunc::Pair_Taxa& pair) {
    raised = dynamic_cast<const Errors::Error&>(pair).what();
    raised_i = pair.I;
    raised_j = pair.J;
  }
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(undefined.Count, static_cast<long long>(expected.size()));
  EXPECT_EQ(undefined.I, expected[0].first);
  EXPECT_EQ(undefined.J, expected[0].second);
  EXPECT_EQ(raised_i, undefined.I);
  EXPECT_EQ(raised_j, undefined.J);
  EXPECT_EQ(undefined.Cause, raised);
  for (int i = 0; i < kept.Size(); ++i)
    for (int j = 0; j < kept.Size(); ++j) {
      const bool nan_expected = std::find(expected.begin(), expected.end(), std::pair(std::min(i, j), std::max(i, j))) !=
                                expected.end();
      EXPECT_EQ(std::isnan(kept(i, j)), nan_expected) << i << ", " << j;
      if (nan_expected) {
        EXPECT_FALSE(std::signbit(kept(i, j))) << "a quiet NaN without a sign";
      }
    }
}

TEST(UndefinedPairs, EveryFamilyKeepsThemAsNaNOnAnyThreadCount) {
  for (int threads : {1, 3}) {
    Test_Support::Settings_Scope scope;
    scope.Threads(threads);
    // Jaccard: two taxa without any presence.
    const Binary_Matrix binary = Binary_Rows({"110", "000", "011", "000"});
    Expect_Kept_As_NaN([&](Distfunc::Undefined_Pairs* u) { return Distfunc::Distances(binary, Distfunc::Binary_Formula::JACCARD, u); },
                       {{1, 3}});
    // SOKAL_SNEATH_2: taxa that differ everywhere.
    Disc_Matrix discrete;
    for (std::string_view row : {"AC", "GT", "AC"}) {
      for (char c : row) discrete.Push(c);
      discrete.Close_Row();
    }
    Expect_Kept_As_NaN(
        [&](Distfunc::Undefined_Pairs* u) { return Distfunc::Distances(discrete, Distfunc::Discrete_Formula::SOKAL_SNEATH_2, u); },
        {{0, 1}, {1, 2}});
    // Bray-Curtis over rows of zeros, enough of them for the tiled path's threads.
    Real_Matrix real;
    for (int t = 0; t < 40; ++t)
      real.Append_Row(t % 13 == 5 ? std::vector<double>{0, 0, 0} : std::vector<double>{1.0 + t, 2, 3});
    Expect_Kept_As_NaN(
        [&](Distfunc::Undefined_Pairs* u) { return Distfunc::Distances(real, Distfunc::Real_Formula::BRAY_CURTIS, 0.0, u); },
        {{5, 18}, {5, 31}, {18, 31}});
    // A square root out of its domain (an Argument_Error) counts the same.
    const Real_Matrix negative = [] {
      Real_Matrix m;
      m.Append_Row(std::vector<double>{1, 2});
      m.Append_Row(std::vector<double>{-1, 2});
      return m;
    }();
    Expect_Kept_As_NaN(
        [&](Distfunc::Undefined_Pairs* u) { return Distfunc::Distances(negative, Distfunc::Real_Formula::HELLINGER, 0.0, u); },
        {{0, 1}});
  }
}

TEST(UndefinedPairs, NaNStandsWhereTheNumberWould) {
  std::string text;
  Text_IO::Text_Output out(&text);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Print::Detail::Put_Number(out, nan, 2, 8, 0);
  out.Put('|');
  Print::Detail::Put_Number(out, 0.5, 2, 8, 0);
  out.Put('|');
  Print::Detail::Put_Number(out, nan, 0, 1, 0);
  out.Flush();
  EXPECT_EQ(text, "        NaN| 0.50000000|NaN");
}

} // namespace
