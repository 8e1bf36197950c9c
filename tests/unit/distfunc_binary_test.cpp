#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "tests/unit/test_support.hpp"
#include "distance/distfunc_binary_packed.hpp"

using namespace Karvel;

namespace {

using Phylo::Binary;
using Phylo::Binary_Matrix;
using Phylo::Distfunc::Binary_Formula;
using Phylo::Distfunc::Distances;
using Phylo::Distfunc::Pair_Range_Error;
using Phylo::Distfunc::Detail::Frequency_Table;
using Phylo::Distfunc::Detail::Packed_Rows;

// '1' presence, '0' absence, anything else unknown.
Binary_Matrix Matrix_Of(std::initializer_list<std::string_view> rows) {
  Binary_Matrix m;
  for (std::string_view row : rows) {
    for (char ch : row) m.Push(ch == '1' ? Binary::PRESENCE : ch == '0' ? Binary::ABSENCE : Binary::UNKNOWN);
    m.Close_Row();
  }
  return m;
}

double Pair_Distance(std::string_view x, std::string_view y, Binary_Formula formula) {
  return Distances(Matrix_Of({x, y}), formula)(0, 1);
}

// The table counted column by column, the plain way.
Frequency_Table Column_Table(std::span<const Binary> x, std::span<const Binary> y) {
  Frequency_Table t;
  for (std::size_t k = 0; k < x.size(); ++k) {
    if (x[k] == Binary::PRESENCE && y[k] == Binary::PRESENCE) ++t.a;
    if (x[k] == Binary::PRESENCE && y[k] == Binary::ABSENCE) ++t.b;
    if (x[k] == Binary::ABSENCE && y[k] == Binary::PRESENCE) ++t.c;
    if (x[k] == Binary::ABSENCE && y[k] == Binary::ABSENCE) ++t.d;
  }
  return t;
}

// The message of the range error of one pair, or "" when there is none.
std::string Range_Error_Message(std::string_view x, std::string_view y, Binary_Formula formula) {
  try {
    Pair_Distance(x, y, formula);
  } catch (const Pair_Range_Error& e) {
    return e.what();
  }
  return "";
}

// Columns: (P,P) (P,A) (A,P) (A,A) (P,A) (U,P), so a = 1, b = 2, c = 1,
// d = 1 and the last column is left out.
constexpr std::string_view X = "11001?";
constexpr std::string_view Y = "101001";

struct Expected {
  Binary_Formula formula;
  double value;
  bool exact;
};

const std::vector<Expected> Example = {
    {Binary_Formula::HAMANN, 0.6, true},
    {Binary_Formula::MATCHING, 0.6, true},
    {Binary_Formula::ROGERS_TANIMOTO, 0.75, true},
    {Binary_Formula::SOKAL_SNEATH_1, 0.4285714, false},
    {Binary_Formula::SOKAL_SNEATH_2, 1.5, true},
    {Binary_Formula::SOKAL_SNEATH_3, 0.5833333, false},
    {Binary_Formula::SOKAL_SNEATH_4, 0.8333333, false},
    {Binary_Formula::YULE, 0.6666667, false},
    {Binary_Formula::PHI, 0.5833333, false},
    {Binary_Formula::JACCARD, 0.75, true},
    {Binary_Formula::SOERENSEN, 0.6, true},
    {Binary_Formula::TRIPLE_WEIGHT, 0.5, true},
    {Binary_Formula::ROGERS_TANIMOTO_ASYMMETRIC, 0.8571429, false},
    {Binary_Formula::RUSSELL_RAO, 0.8, true},
    {Binary_Formula::KULCZYNSKI, 0.6666667, false},
    {Binary_Formula::KULCZYNSKI_2, 0.5833333, false},
    {Binary_Formula::OCHIAI, 0.5917517, false},
    {Binary_Formula::FAITH, 0.7, true},
    {Binary_Formula::FAGER, 0.8804268, false},
};

TEST(BinaryDistances, ExampleTableGivesPublishedValuesInEitherOrder) {
  ASSERT_EQ(Example.size(), 19u);
  for (const Expected& e : Example) {
    SCOPED_TRACE(Phylo::Distfunc::Name(e.formula));
    const Generic::Square_Block block = Distances(Matrix_Of({X, Y}), e.formula);
    ASSERT_EQ(block.Size(), 2);
    if (e.exact)
      EXPECT_EQ(block(0, 1), e.value);
    else
      EXPECT_NEAR(block(0, 1), e.value, 5e-8);
    EXPECT_EQ(block(1, 0), block(0, 1));
    EXPECT_EQ(block(0, 0), 0.0);
    EXPECT_EQ(block(1, 1), 0.0);
    // Swapping the taxa swaps b and c.
    EXPECT_DOUBLE_EQ(Pair_Distance(Y, X, e.formula), block(0, 1));
  }
  // 1 - 1/3 and 2/3 differ in the last place: the forms of KULCZYNSKI and
  // YULE must not be rewritten into one another.
  EXPECT_EQ(Pair_Distance(X, Y, Binary_Formula::KULCZYNSKI), 1.0 - 1.0 / 3.0);
  EXPECT_EQ(Pair_Distance(X, Y, Binary_Formula::YULE), 2.0 / 3.0);
}

TEST(BinaryDistances, IdenticalRows) {
  for (Binary_Formula f : {Binary_Formula::MATCHING, Binary_Formula::JACCARD, Binary_Formula::SOERENSEN}) {
    const double d = Pair_Distance("1100?", "1100?", f);
    EXPECT_EQ(d, 0.0);
    EXPECT_FALSE(std::signbit(d)) << Phylo::Distfunc::Name(f);
  }
  EXPECT_EQ(Range_Error_Message("1100?", "1100?", Binary_Formula::KULCZYNSKI),
            "range check failed: the KULCZYNSKI distance is infinite "
            "(b + c = 0: the taxa agree at every known character)");
}

TEST(BinaryDistances, AllAbsentRows) {
  EXPECT_EQ(Pair_Distance("0000", "0000", Binary_Formula::MATCHING), 0.0);
  EXPECT_EQ(Range_Error_Message("0000", "0000", Binary_Formula::JACCARD),
            "range check failed: the JACCARD distance is not a number "
            "(no presence in either taxon among the known characters)");
}

TEST(BinaryDistances, RangeErrorsNameFormulaAndCause) {
  // a = 3 > b + c = 1: Kulczynski's similarity exceeds 1.
  EXPECT_EQ(Range_Error_Message("1110", "1111", Binary_Formula::KULCZYNSKI),
            "range check failed: the KULCZYNSKI distance is negative (a = 3 > b + c = 1)");
  EXPECT_EQ(Range_Error_Message("10", "01", Binary_Formula::SOKAL_SNEATH_2),
            "range check failed: the SOKAL_SNEATH_2 distance is infinite "
            "(a + d = 0: the taxa differ at every known character)");
  EXPECT_EQ(Range_Error_Message("1?", "?1", Binary_Formula::MATCHING),
            "range check failed: the MATCHING distance is not a number (no character is known in both taxa)");
  EXPECT_EQ(Range_Error_Message("0000", "1101", Binary_Formula::OCHIAI),
            "range check failed: the OCHIAI distance is not a number "
            "(a + b = 0: the first taxon has no presence among the known characters)");
  EXPECT_EQ(Range_Error_Message("1101", "1111", Binary_Formula::PHI),
            "range check failed: the PHI distance is not a number "
            "(b + d = 0: the second taxon has no absence among the known characters)");
  EXPECT_EQ(Range_Error_Message("1100", "1010", Binary_Formula::KULCZYNSKI), "");
}

// Each formula's reason for a pair whose value fails is the cause its row
// names; a formula not listed for a pair gives that pair a distance.
TEST(BinaryDistances, EachFormulaGivesTheCauseOfItsRow) {
  using enum Binary_Formula;
  using Formulas = std::vector<Binary_Formula>;
  const Formulas marginals = {SOKAL_SNEATH_3, SOKAL_SNEATH_4, PHI, KULCZYNSKI_2, OCHIAI, FAGER};
  const Formulas one_absence = {SOKAL_SNEATH_3, SOKAL_SNEATH_4, PHI}; // the others still divide by a + b, a + c
  struct Case {
    std::string_view x, y;
    std::vector<std::pair<std::string, Formulas>> reasons; // no formulas: every one
  };
  const std::vector<Case> cases = {
      {"1?", "?1", {{"no character is known in both taxa", {}}}},
      {"0000", "0000",
       {{"no presence in either taxon among the known characters",
         {JACCARD, SOERENSEN, TRIPLE_WEIGHT, ROGERS_TANIMOTO_ASYMMETRIC}},
        {"a + b = 0: the first taxon has no presence among the known characters", marginals},
        {"a * d + b * c = 0 with a = 0, b = 0, c = 0, d = 4", {YULE}},
        {"b + c = 0: the taxa agree at every known character", {KULCZYNSKI}}}},
      {"0101", "0000",
       {{"a + c = 0: the second taxon has no presence among the known characters", marginals},
        {"a * d + b * c = 0 with a = 0, b = 2, c = 0, d = 2", {YULE}}}},
      {"1101", "1111",
       {{"b + d = 0: the second taxon has no absence among the known characters", one_absence},
        {"a * d + b * c = 0 with a = 3, b = 0, c = 1, d = 0", {YULE}},
        {"a = 3 > b + c = 1", {KULCZYNSKI}}}},
      {"11", "10",
       {{"c + d = 0: the first taxon has no absence among the known characters", one_absence},
        {"a * d + b * c = 0 with a = 1, b = 1, c = 0, d = 0", {YULE}}}},
      {"10", "01", {{"a + d = 0: the taxa differ at every known character", {SOKAL_SNEATH_2}}}},
  };
  for (const Case& c : cases)
    for (const auto& row : Phylo::Distfunc::Formulas::Binary) {
      SCOPED_TRACE(std::string(row.Name) + " of " + std::string(c.x) + ", " + std::string(c.y));
      std::string expected;
      for (const auto& [reason, formulas] : c.reasons)
        if (formulas.empty() || std::find(formulas.begin(), formulas.end(), row.Value) != formulas.end())
          expected = reason;
      const std::string message = Range_Error_Message(c.x, c.y, row.Value);
      if (expected.empty()) {
        EXPECT_EQ(message, "");
      } else {
        EXPECT_TRUE(message.starts_with(std::string("range check failed: the ") + row.Name + " distance is "))
            << message;
        EXPECT_TRUE(message.ends_with(" (" + expected + ")")) << message;
      }
    }
}

TEST(BinaryDistances, RangeErrorCarriesTheTaxaOfThePair) {
  // Only the pair (1, 2) has no presence at all.
  const Binary_Matrix m = Matrix_Of({"101", "000", "000"});
  try {
    Distances(m, Binary_Formula::JACCARD);
    FAIL() << "no range error";
  } catch (const Pair_Range_Error& e) {
    EXPECT_EQ(e.I, 1);
    EXPECT_EQ(e.J, 2);
  }
}

TEST(BinaryDistances, OneTaxon) {
  const Generic::Square_Block one = Distances(Matrix_Of({"10?"}), Binary_Formula::JACCARD);
  ASSERT_EQ(one.Size(), 1);
  EXPECT_EQ(one(0, 0), 0.0);
}

TEST(BinaryDistances, MisalignedOrMissingRows) {
  try {
    Distances(Matrix_Of({"101", "101", "11"}), Binary_Formula::MATCHING);
    FAIL() << "no size error";
  } catch (const Phylo::Binary_Chars::Basic::Size_Error& e) {
    EXPECT_STREQ(e.Name(), "PHYLO.BINARY_CHARS.BASIC.SIZE_ERROR");
    EXPECT_NE(std::string(e.what()).find("row 3 has 2"), std::string::npos) << e.what();
  }
  EXPECT_THROW(Distances(Binary_Matrix(), Binary_Formula::MATCHING), Errors::Constraint_Error);
}

TEST(BinaryDistances, PackedCountsAgreeWithColumnCounts) {
  Test_Support::Settings_Scope settings;
  for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    settings.Path(path);
    std::mt19937 random(20240611);
    // Lengths around the words and the groups of eight words, a few longer
    // rows; rows 0 and 1 have no unknowns (a alone is counted between them).
    for (int length : {0, 1, 5, 63, 64, 65, 127, 128, 129, 300, 511, 512, 513, 1000, 1025, 15872, 15937, 40000}) {
      Binary_Matrix m;
      std::uniform_int_distribution<int> state(0, 2);
      for (int row = 0; row < 6; ++row) {
        // Later rows get more unknowns, the last one is all unknown.
        for (int k = 0; k < length; ++k)
          m.Push(row == 5 ? Binary::UNKNOWN : static_cast<Binary>(state(random) % (row < 2 ? 2 : 3)));
        m.Close_Row();
      }
      const Packed_Rows packed(m);
      for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 6; ++j) {
          SCOPED_TRACE(std::string(Generic::Simd::Name(path)) + ", length " + std::to_string(length) +
                       ", rows " + std::to_string(i) + ", " + std::to_string(j));
          EXPECT_EQ(packed.Table(i, j), Column_Table(m.Row(i), m.Row(j)));
        }
    }
  }
}

} // namespace
