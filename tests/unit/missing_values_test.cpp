// Missing values in continuous data under --missing=pairwise: read as a
// quiet NaN in every layout, left out of the transformations' statistics,
// written back as the layout's missing word.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "diagnostics/errors.hpp"
#include "karvel/karvel.hpp"
#include "read/read.hpp"
#include "tests/unit/test_support.hpp"
#include "transform/real_chars.hpp"

using namespace Karvel;

namespace {

using Phylo::Missing_Rule;
using Phylo::Real_Matrix;
using Phylo::Read::Input_Format;
using Phylo::Real_Chars::Transformation;
using Rows = std::vector<std::vector<double>>;

constexpr double NA = std::numeric_limits<double>::quiet_NaN();

// NaN equals NaN here; any other value must match to the bit.
bool Same(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void Expect_Rows(const Rows& actual, const Rows& expected, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    ASSERT_EQ(actual[i].size(), expected[i].size()) << what << " row " << i;
    for (std::size_t j = 0; j < actual[i].size(); ++j)
      EXPECT_TRUE(Same(actual[i][j], expected[i][j]))
          << what << " [" << i << "][" << j << "]: " << actual[i][j] << " vs " << expected[i][j];
  }
}

Rows Values_Of(const Real_Matrix& m) {
  Rows out;
  for (int i = 0; i < m.Rows(); ++i) out.emplace_back(m.Row(i).begin(), m.Row(i).end());
  return out;
}

Rows Read_Rows(const std::string& text, Input_Format format, Missing_Rule rule) {
  Text_IO::Text_Input in(text);
  Phylo::Read::Table_Options options;
  options.missing = rule;
  return Values_Of(Phylo::Read::Get(in, format, options)->Matrix);
}

// --- Reading

// One matrix, its gaps spelled the ways each layout's writers spell them.
const Rows Gapped = {{1.5, NA, 3, NA}, {NA, 2, NA, 4}, {1, 2, 3, NA}};

struct Layout_Case {
  Input_Format format;
  const char* text;
};

const Layout_Case Layouts[] = {
    {Input_Format::EXTENDED_PHYLIP, "3 4\na 1.5 NA 3 ?\nb nan 2 N/A 4\nc 1 2 3 NaN\n"},
    {Input_Format::PHYLIP, "3 4\na         1.5 NA 3 ?\nb         nan 2 N/A 4\nc         1 2 3 NaN\n"},
    {Input_Format::COMMENTED_PHYLIP, "3 4\na x 1.5 NA 3 ?\nb y nan 2 N/A 4\nc z 1 2 3 NaN\n"},
    {Input_Format::PHYLIP_INTERLEAVED, "3 4\na         1.5 NA\nb         nan 2\nc         1 2\n\n3 ?\nN/A 4\n3 NaN\n"},
    {Input_Format::EXTENDED_INTERLEAVED, "3 4\na 1.5 NA\nb ? 2\nc 1 2\n\n3 ?\nNA 4\n3 nan\n"},
    {Input_Format::CSV, ",c1,c2,c3,c4\na,1.5,,3,NA\nb,\"\",2,null,4\nc,1,2,3,N/A\n"},
    {Input_Format::TSV, "\tc1\tc2\tc3\tc4\na\t1.5\tNA\t3\t\nb\t?\t2\tNaN\t4\nc\t1\t2\t3\tnull\n"},
    {Input_Format::CSV2, ";c1;c2;c3;c4\na;1,5;;3;NA\nb;NA;2;?;4\nc;1;2;3;\n"},
    {Input_Format::NEXUS, "#NEXUS\nbegin data; dimensions ntax=3 nchar=4; format datatype=continuous;\n"
                          "matrix\na 1.5 ? 3 NA\nb nan 2 ? 4\nc 1 2 3 ?\n;\nend;\n"},
};

TEST(MissingValues, EveryLayoutReadsTheGapsAsNaNAndRefusesThemByDefault) {
  for (const Layout_Case& c : Layouts) {
    const std::string name = "layout " + std::to_string(static_cast<int>(c.format));
    Expect_Rows(Read_Rows(c.text, c.format, Missing_Rule::PAIRWISE), Gapped, name);
    try {
      Read_Rows(c.text, c.format, Missing_Rule::ERROR);
      ADD_FAILURE() << name << " read a missing value under ERROR";
    } catch (const Errors::Data_Error& e) {
      const auto* hint = dynamic_cast<const Generic::Hint*>(&e);
      ASSERT_NE(hint, nullptr) << name << ": " << e.what();
      EXPECT_NE(hint->Hint_Text().find("--missing=pairwise"), std::string::npos);
    }
  }
}

TEST(MissingValues, NexusTakesItsOwnMissingSymbol) {
  const std::string text = "#NEXUS\nbegin data; dimensions ntax=2 nchar=2;\n"
                           "format datatype=continuous missing=x;\nmatrix\na 1 x\nb x 2\n;\nend;\n";
  Expect_Rows(Read_Rows(text, Input_Format::NEXUS, Missing_Rule::PAIRWISE), {{1, NA}, {NA, 2}}, "missing=x");
}

// Words that only start like a missing value stay errors, also where the
// reader's window cuts them.
TEST(MissingValues, OnlyWholeWordsAreMissing) {
  for (const char* text : {"1 2\na NAB\n", "1 2\na 1 ?x\n", "1 2\na 1 NA,\n"})
    EXPECT_THROW(Read_Rows(text, Input_Format::EXTENDED_PHYLIP, Missing_Rule::PAIRWISE), Errors::Data_Error)
        << text;
}

// A missing word cut by the end of the input buffer is read whole: blank
// lines before the header move the row so that the buffer ends at every
// position of it in turn.
TEST(MissingValues, WordsAcrossBufferRefills) {
  const std::string row = "t" + std::string(300, ' ') + "NaN 1 nan N/A 2 NA ?";
  char name[] = "/tmp/karvel_missing_test_XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  for (std::size_t shift = 0; shift < row.size() - 290; ++shift) {
    const std::string padded = std::string((1 << 20) - 4 - 300 - shift, '\n') + "1 7\n" + row + "\n";
    std::FILE* f = std::fopen(name, "wb");
    std::fwrite(padded.data(), 1, padded.size(), f);
    std::fclose(f);
    auto in = Text_IO::Text_Input::Open(name);
    Phylo::Read::Table_Options options;
    options.missing = Missing_Rule::PAIRWISE;
    Expect_Rows(Values_Of(Phylo::Read::Get(*in, Input_Format::EXTENDED_PHYLIP, options)->Matrix),
                {{NA, 1, NA, NA, 2, NA, NA}}, "shift " + std::to_string(shift));
  }
  std::remove(name);
}

// A big matrix is read by several threads: the gaps land where they stand.
TEST(MissingValues, ParallelReadsKeepEveryGap) {
  constexpr int Taxa = 400, Chars = 300;
  std::string text = std::to_string(Taxa) + " " + std::to_string(Chars) + "\n";
  Rows expected(Taxa);
  const char* const words[] = {"NA", "?", "NaN", "n/a"};
  for (int t = 0; t < Taxa; ++t) {
    text += "t" + std::to_string(t);
    for (int c = 0; c < Chars; ++c) {
      const int k = t * 7 + c * 13;
      if (k % 5 == 0) {
        text += std::string(" ") + words[k % 4];
        expected[static_cast<std::size_t>(t)].push_back(NA);
      } else {
        text += " " + std::to_string(k % 1000) + ".25";
        expected[static_cast<std::size_t>(t)].push_back(k % 1000 + 0.25);
      }
    }
    text += "\n";
  }
  ASSERT_GT(text.size(), std::size_t{256} << 10); // the parallel reader's least text
  for (int threads : {1, 2}) {
    Test_Support::Settings_Scope scope;
    scope.Threads(threads);
    Expect_Rows(Read_Rows(text, Input_Format::EXTENDED_PHYLIP, Missing_Rule::PAIRWISE), expected,
                std::to_string(threads) + " threads");
  }
}

// --- Transformations

// Which values a transformation's statistics are gathered over: a row's,
// a column's, or both (FOR_CHI: row and column sums).
enum class Axis { ROW, COLUMN, BOTH };

struct Axis_Row {
  Transformation t;
  Axis axis;
};

const Axis_Row Axes[] = {
    {Transformation::ROW_FRACTIONS, Axis::ROW},     {Transformation::COLUMN_FRACTIONS, Axis::COLUMN},
    {Transformation::FOR_CHI, Axis::BOTH},          {Transformation::RANGING, Axis::COLUMN},
    {Transformation::FULL_RANGING, Axis::COLUMN},   {Transformation::Z_SCORES, Axis::COLUMN},
    {Transformation::FULL_Z_SCORES, Axis::COLUMN},  {Transformation::RANKS, Axis::ROW},
    {Transformation::AVERAGE_RANKS, Axis::ROW},
};

Real_Matrix Make(const Rows& rows) {
  Real_Matrix m;
  for (const auto& r : rows) m.Append_Row(std::span<const double>(r));
  return m;
}

Rows Transformed(const Rows& rows, Transformation t) {
  Real_Matrix m = Make(rows);
  Phylo::Real_Chars::Transform_Matrix(m, t);
  return Values_Of(m);
}

// Gaps everywhere, a row and a column with nothing present, ties for the
// rankings and a column with one value.
const Rows Sample = {
    {3.5, NA, 2, 7, NA, 1},  {NA, NA, NA, NA, NA, NA}, {1.25, 4, NA, 7, NA, 9},
    {6, 4, 2, NA, NA, NA},   {0.5, 8, 3, 2, NA, 1},    {NA, 1, 5, 7, NA, 2.5},
};

// The definition written out: a row (or column) with gaps transforms as
// the matrix of its present values alone, which takes the code of a
// complete matrix, to the bit.
Rows Reference(const Rows& rows, Axis axis, Transformation t) {
  Rows out = rows;
  const std::size_t n = rows.size(), p = rows[0].size();
  const std::size_t lines = axis == Axis::ROW ? n : p;
  for (std::size_t line = 0; line < lines; ++line) {
    std::vector<std::size_t> at;
    std::vector<double> present;
    for (std::size_t k = 0; k < (axis == Axis::ROW ? p : n); ++k) {
      const double x = axis == Axis::ROW ? rows[line][k] : rows[k][line];
      if (!std::isnan(x)) {
        at.push_back(k);
        present.push_back(x);
      }
    }
    if (present.empty()) continue;
    Rows alone;
    if (axis == Axis::ROW)
      alone.push_back(present);
    else
      for (double x : present) alone.push_back({x});
    const Rows done = Transformed(alone, t);
    for (std::size_t k = 0; k < at.size(); ++k)
      (axis == Axis::ROW ? out[line][at[k]] : out[at[k]][line]) = axis == Axis::ROW ? done[0][k] : done[k][0];
  }
  return out;
}

// FOR_CHI: (x / its row's sum) * sqrt(p / its column's sum), p the number
// of characters, the sums over the present values in ascending order.
Rows Chi_Reference(const Rows& rows) {
  Rows out = rows;
  const std::size_t n = rows.size(), p = rows[0].size();
  std::vector<double> row_sum(n, 0.0), column_sum(p, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < p; ++j)
      if (!std::isnan(rows[i][j])) {
        row_sum[i] = row_sum[i] + rows[i][j];
        column_sum[j] = column_sum[j] + rows[i][j];
      }
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < p; ++j)
      if (!std::isnan(rows[i][j]))
        out[i][j] = (rows[i][j] * (1.0 / row_sum[i])) * std::sqrt(static_cast<double>(p) / column_sum[j]);
  return out;
}

TEST(MissingValues, EveryTransformationGathersOverThePresentValuesOnly) {
  for (int k = 0; k <= static_cast<int>(Transformation::AVERAGE_RANKS); ++k) {
    const auto t = static_cast<Transformation>(k);
    const Axis_Row* row = nullptr;
    for (const Axis_Row& r : Axes)
      if (r.t == t) row = &r;
    ASSERT_NE(row, nullptr) << "transformation " << k << " has no axis in this test";
    const Rows expected = row->axis == Axis::BOTH ? Chi_Reference(Sample) : Reference(Sample, row->axis, t);
    Expect_Rows(Transformed(Sample, t), expected, "transformation " + std::to_string(k));
  }
}

// A failure names the value that failed, not a missing cell before it.
TEST(MissingValues, AFailedRangeCheckNamesAPresentValue) {
  try {
    Transformed({{NA, 1e300, -1e300, 1e-300}}, Transformation::ROW_FRACTIONS);
    ADD_FAILURE() << "a row fraction of 1e300 / 1e-300 passed";
  } catch (const Errors::Error& e) {
    EXPECT_NE(std::string(e.what()).find("character 2"), std::string::npos) << e.what();
  }
}

// --- Writing and the library

// What -W writes reads back with its gaps, in every layout both write and
// read; the library's reader takes the rule as the program's does.
TEST(MissingValues, WrittenDataReadBackWithTheirGaps) {
  struct Round_Trip {
    Lib::Output_Layout written;
    Lib::Input_Layout read;
    const char* missing_cell;
  };
  const Round_Trip trips[] = {
      {Lib::Output_Layout::EXTENDED_PHYLIP, Lib::Input_Layout::EXTENDED_PHYLIP, "\t?"},
      {Lib::Output_Layout::PHYLIP, Lib::Input_Layout::PHYLIP, "\t?"},
      {Lib::Output_Layout::NEXUS, Lib::Input_Layout::NEXUS, "\t?"},
      {Lib::Output_Layout::CSV, Lib::Input_Layout::CSV, ",NA"},
  };
  const std::string csv = ",c1,c2,c3,c4\na,1.5,,3,NA\nb,NA,2,null,4\nc,1,2,3,\n";
  Lib::Reader strict = Lib::Reader::From_Text(csv, Lib::Input_Layout::CSV);
  EXPECT_THROW(strict.Next(), Errors::Data_Error);
  Lib::Reader reader = Lib::Reader::From_Text(csv, Lib::Input_Layout::CSV);
  reader.Set_Missing(Lib::Missing_Values::PAIRWISE);
  const Lib::Matrix data = *reader.Next();
  for (const Round_Trip& trip : trips) {
    std::string text;
    {
      Lib::Output out(text);
      Lib::Write_Data(out, data, trip.written);
      out.Flush();
    }
    EXPECT_NE(text.find(trip.missing_cell), std::string::npos) << text;
    Lib::Reader again = Lib::Reader::From_Text(text, trip.read);
    again.Set_Missing(Lib::Missing_Values::PAIRWISE);
    const Lib::Matrix back = *again.Next();
    Rows rows;
    for (int t = 0; t < back.Taxa(); ++t) rows.emplace_back(back.Values(t).begin(), back.Values(t).end());
    Expect_Rows(rows, Gapped, Lib::Output_Layout_Name(trip.written));
  }
}

} // namespace
