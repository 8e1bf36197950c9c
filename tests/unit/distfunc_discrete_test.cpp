#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>
#include <initializer_list>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using Phylo::Disc_Matrix;
using Phylo::Distfunc::Discrete_Formula;
using Phylo::Distfunc::Distances;
using Phylo::Distfunc::Pair_Range_Error;

constexpr Discrete_Formula All[] = {Discrete_Formula::HAMANN, Discrete_Formula::MATCHING,
                                    Discrete_Formula::ROGERS_TANIMOTO, Discrete_Formula::SOKAL_SNEATH_1,
                                    Discrete_Formula::SOKAL_SNEATH_2};

Disc_Matrix Matrix_Of(std::initializer_list<std::string_view> rows) {
  Disc_Matrix m;
  for (std::string_view row : rows) m.Append_Row(row);
  return m;
}

// The positions at which two rows of one length hold different symbols.
int Differences(std::span<const char> x, std::span<const char> y) {
  int count = 0;
  for (std::size_t k = 0; k < x.size(); ++k) count += x[k] != y[k] ? 1 : 0;
  return count;
}

double Pair_Distance(std::string_view x, std::string_view y, Discrete_Formula formula) {
  return Distances(Matrix_Of({x, y}), formula)(0, 1);
}

TEST(DiscreteDistances, OneDifferenceInThree) {
  EXPECT_NEAR(Pair_Distance("AAC", "ABC", Discrete_Formula::HAMANN), 0.3333333, 5e-8);
  EXPECT_NEAR(Pair_Distance("AAC", "ABC", Discrete_Formula::MATCHING), 0.3333333, 5e-8);
  EXPECT_EQ(Pair_Distance("AAC", "ABC", Discrete_Formula::ROGERS_TANIMOTO), 0.5);
  EXPECT_EQ(Pair_Distance("AAC", "ABC", Discrete_Formula::SOKAL_SNEATH_1), 0.2);
  EXPECT_EQ(Pair_Distance("AAC", "ABC", Discrete_Formula::SOKAL_SNEATH_2), 0.5);
}

TEST(DiscreteDistances, OperationOrderIsKept) {
  // 0.5 - (1 * 0.5) / 3 ends above 1/3, and 49 * (1 / 49) below 1.
  EXPECT_EQ(Pair_Distance("AAC", "ABC", Discrete_Formula::HAMANN), 0.5 - 0.5 / 3.0);
  EXPECT_NE(0.5 - 0.5 / 3.0, 1.0 / 3.0);
  const std::string x(49, 'A');
  const std::string y(49, 'B');
  EXPECT_EQ(Pair_Distance(x, y, Discrete_Formula::MATCHING), 49.0 * (1.0 / 49.0));
  EXPECT_LT(Pair_Distance(x, y, Discrete_Formula::MATCHING), 1.0);
  EXPECT_EQ(Pair_Distance(x, y, Discrete_Formula::HAMANN), 1.0);
}

TEST(DiscreteDistances, RowsThatDifferEverywhere) {
  for (Discrete_Formula f : {Discrete_Formula::HAMANN, Discrete_Formula::MATCHING,
                             Discrete_Formula::ROGERS_TANIMOTO, Discrete_Formula::SOKAL_SNEATH_1})
    EXPECT_EQ(Pair_Distance("ABC", "CAB", f), 1.0) << Phylo::Distfunc::Name(f);

  try {
    Distances(Matrix_Of({"ABC", "ABD", "CAB"}), Discrete_Formula::SOKAL_SNEATH_2);
    FAIL() << "no range error";
  } catch (const Pair_Range_Error& e) {
    EXPECT_EQ(e.I, 0);
    EXPECT_EQ(e.J, 2);
    EXPECT_STREQ(e.Name(), "CONSTRAINT_ERROR");
    EXPECT_STREQ(e.what(), "range check failed: the SOKAL_SNEATH_2 distance is infinite "
                           "(k = n = 3: the taxa differ at every character)");
  }
}

TEST(DiscreteDistances, IdenticalRowsGivePositiveZero) {
  for (Discrete_Formula f : All) {
    const double d = Pair_Distance("A?C", "A?C", f);
    EXPECT_EQ(d, 0.0) << Phylo::Distfunc::Name(f);
    EXPECT_FALSE(std::signbit(d)) << Phylo::Distfunc::Name(f);
  }
}

TEST(DiscreteDistances, QuestionMarkIsAnOrdinaryState) {
  EXPECT_EQ(Pair_Distance("A?", "??", Discrete_Formula::ROGERS_TANIMOTO), 2.0 / 3.0);
  EXPECT_EQ(Pair_Distance("A?", "A-", Discrete_Formula::SOKAL_SNEATH_2), 1.0);
}

TEST(DiscreteDistances, OneTaxon) {
  const Generic::Square_Block one = Distances(Matrix_Of({"ACGT"}), Discrete_Formula::SOKAL_SNEATH_2);
  ASSERT_EQ(one.Size(), 1);
  EXPECT_EQ(one(0, 0), 0.0);
}

TEST(DiscreteDistances, ManyTaxaFillBothTriangles) {
  // Enough taxa for the block to span several tiles when it is mirrored.
  std::mt19937 random(11);
  Disc_Matrix m;
  for (int i = 0; i < 150; ++i) {
    for (int k = 0; k < 7; ++k) m.Push("AC"[random() % 2]);
    m.Close_Row();
  }
  const Generic::Square_Block block = Distances(m, Discrete_Formula::SOKAL_SNEATH_1);
  for (int i = 0; i < 150; ++i) {
    EXPECT_EQ(block(i, i), 0.0);
    for (int j = i + 1; j < 150; ++j) {
      const double k = Differences(m.Row(i), m.Row(j));
      ASSERT_EQ(block(i, j), k / (14.0 - k)) << i << ", " << j;
      ASSERT_EQ(block(j, i), block(i, j)) << i << ", " << j;
    }
  }
}

TEST(DiscreteDistances, UnusableMatrices) {
  EXPECT_THROW(Distances(Matrix_Of({"", ""}), Discrete_Formula::MATCHING), Errors::Constraint_Error);
  EXPECT_THROW(Distances(Matrix_Of({""}), Discrete_Formula::MATCHING), Errors::Constraint_Error);
  EXPECT_THROW(Distances(Disc_Matrix(), Discrete_Formula::MATCHING), Errors::Constraint_Error);
  try {
    Distances(Matrix_Of({"ABC", "ABC", "AB"}), Discrete_Formula::MATCHING);
    FAIL() << "no size error";
  } catch (const Phylo::Discrete_Chars::Basic::Size_Error& e) {
    EXPECT_STREQ(e.Name(), "PHYLO.DISC_CHARS.BASIC.SIZE_ERROR");
    EXPECT_NE(std::string(e.what()).find("row 3 has 2"), std::string::npos) << e.what();
  }
}

TEST(DiscreteDistances, LongRowsCountEveryDifferenceOnEveryPath) {
  // Lengths on both sides of the 64-byte blocks, of the 8-byte steps after
  // them and of the 255 blocks a byte lane counts; all bytes 0..255; rows
  // that differ everywhere, and rows that differ only in the high bit.
  Test_Support::Settings_Scope settings;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    settings.Path(path);
    for (std::size_t length : {1u, 7u, 8u, 9u, 63u, 64u, 65u, 71u, 72u, 79u, 200u, 1000u, 16320u, 16329u, 40000u}) {
      std::string x(length, '\0');
      std::string y(length, '\0');
      for (std::size_t k = 0; k < length; ++k) {
        x[k] = static_cast<char>(byte(random));
        y[k] = random() % 3 == 0 ? static_cast<char>(byte(random)) : x[k];
      }
      const Disc_Matrix m = Matrix_Of({x, y, std::string(length, '\x80'), std::string(length, '\x7f'),
                                       std::string(length, '\0')});
      const Generic::Square_Block block = Distances(m, Discrete_Formula::MATCHING);
      const double inv_n = 1.0 / static_cast<double>(length);
      for (int i = 0; i < 5; ++i)
        for (int j = i + 1; j < 5; ++j) {
          const int k = Differences(m.Row(i), m.Row(j));
          EXPECT_EQ(block(i, j), k * inv_n) << Generic::Simd::Name(path) << ", length " << length
                                            << ", rows " << i << ", " << j;
        }
      EXPECT_EQ(block(2, 3), static_cast<double>(length) * inv_n);
      EXPECT_EQ(block(2, 4), static_cast<double>(length) * inv_n);
    }
  }
}


// --- Missing cells left out pair by pair (--missing=pairwise)

using Phylo::Distfunc::Missing_Symbols;
using Phylo::Distfunc::Missing_Symbols_Of;

// What a pair's distance is by its definition: k and n counted over the
// positions where neither row holds a missing symbol, the formula's finish
// applied with 1 / n; NaN where the finish leaves the distance range.
double Reference(std::string_view x, std::string_view y, const Missing_Symbols& missing, Discrete_Formula formula) {
  std::size_t k = 0, n = 0;
  for (std::size_t t = 0; t < x.size(); ++t) {
    if (missing.Is[static_cast<unsigned char>(x[t])] || missing.Is[static_cast<unsigned char>(y[t])]) continue;
    ++n;
    k += x[t] != y[t];
  }
  const double value = Phylo::Distfunc::Formulas::Row_Of(formula).Finish.Function(
      static_cast<double>(k), static_cast<double>(n), 1.0 / static_cast<double>(n));
  return value >= 0.0 && std::isfinite(value) ? value + 0.0 : std::nan("");
}

bool Same_Bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Every path, every formula, and the row-block routine, against the plain
// loop: lengths on both sides of the kernel's 64-byte blocks and of its 255
// blocks a lane, missing cells sparse and dense, and rows with none known.
TEST(DiscreteMissing, MaskedCountsMatchAPlainLoopOnEveryPathAndFormula) {
  Test_Support::Settings_Scope settings;
  std::mt19937 random(19);
  for (std::size_t length : {1u, 63u, 64u, 65u, 130u, 16320u, 16385u}) {
    Disc_Matrix m;
    std::vector<std::string> rows;
    for (int i = 0; i < 9; ++i) {
      std::string row(length, 'A');
      const unsigned density = i < 3 ? 20 : i < 6 ? 2 : 1; // % of cells missing: ~5, 50, 100
      for (char& c : row) c = random() % density == 0 ? "?-"[random() % 2] : "0123"[random() % 4];
      rows.push_back(row);
      m.Append_Row(row);
    }
    const Missing_Symbols missing = Missing_Symbols_Of(m, "");
    ASSERT_GT(missing.Cells, 0u);
    for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
      if (!Generic::Simd::Available(path)) continue;
      settings.Path(path);
      for (const auto& row : Phylo::Distfunc::Formulas::Discrete) {
        Phylo::Distfunc::Undefined_Pairs undefined;
        const Generic::Square_Block block = Distances(m, row.Value, missing, &undefined);
        const auto blocks = Phylo::Distfunc::Row_Distances_Of(m, row.Value, missing);
        std::vector<double> streamed(81);
        Phylo::Distfunc::Undefined_Pairs streamed_undefined;
        blocks->Compute(0, 9, Phylo::Row_Part::ALL, Phylo::Distfunc::Pair_Order::TAXA, streamed.data(),
                        &streamed_undefined);
        EXPECT_EQ(streamed_undefined.Count, undefined.Count);
        for (int i = 0; i < 9; ++i)
          for (int j = i + 1; j < 9; ++j) {
            const double expected = Reference(rows[i], rows[j], missing, row.Value);
            ASSERT_TRUE(Same_Bits(block(i, j), expected))
                << Generic::Simd::Name(path) << ' ' << row.Name << ", length " << length << ", rows " << i << ", "
                << j << ": " << block(i, j) << " != " << expected;
            ASSERT_TRUE(Same_Bits(streamed[static_cast<std::size_t>(i * 9 + j)], block(i, j)));
          }
      }
    }
  }
}

// A pair without a position known in both has no distance: the error that
// names it, or a NaN counted among the undefined pairs.
TEST(DiscreteMissing, PairWithNothingInCommon) {
  const Disc_Matrix m = Matrix_Of({"AC??", "??GT", "A-G?"});
  const Missing_Symbols missing = Missing_Symbols_Of(m, "");
  try {
    Distances(m, Discrete_Formula::HAMANN, missing);
    FAIL() << "no range error";
  } catch (const Pair_Range_Error& e) {
    EXPECT_EQ(e.I, 0);
    EXPECT_EQ(e.J, 1);
    EXPECT_STREQ(e.what(), "range check failed: the HAMANN distance is not a number "
                           "(no character is known in both taxa)");
  }
  Phylo::Distfunc::Undefined_Pairs undefined;
  const Generic::Square_Block block = Distances(m, Discrete_Formula::MATCHING, missing, &undefined);
  EXPECT_EQ(undefined.Count, 1);
  EXPECT_TRUE(std::isnan(block(0, 1)) && std::isnan(block(1, 0)));
  EXPECT_EQ(block(0, 2), 0.0);
  EXPECT_EQ(block(1, 2), 0.0);
}

// Which symbols are missing: ambiguity codes only where the matrix is all
// nucleotides (declared and named symbols do not count against that), and
// then every one of them, in either case.
TEST(DiscreteMissing, SymbolsAndNucleotideAmbiguity) {
  struct Case {
    std::vector<std::string_view> rows;
    std::string_view declared;
    std::string_view missing;     // symbols that must be missing
    std::string_view states;      // symbols that must not
    std::size_t cells, ambiguous;
  };
  const Case cases[] = {
      {{"ACGTN-", "acgtnr", "ACGU?Y"}, "", "Nn-r?YRYSWKMBDHVryswkmbdhv", "ACGTUacgtu", 6, 4},
      {{"ACGTNX", "ACGT-A"}, "", "-?", "NXACGT", 1, 0},           // X: not a nucleotide matrix
      {{"ACGTNX", "ACGT-A"}, "X", "-?XN", "ACGT", 3, 1},          // X named: it is again
      {{"012?", "1{-}0"}, "", "?-", "012{}NB", 2, 0},              // morphology
      {{"0A1?", "AXA*"}, "*", "?-*", "0AX1N", 2, 0},
  };
  for (const Case& c : cases) {
    Disc_Matrix m;
    for (std::string_view row : c.rows) m.Append_Row(row);
    const Missing_Symbols missing = Missing_Symbols_Of(m, c.declared);
    for (char s : c.missing) EXPECT_TRUE(missing.Is[static_cast<unsigned char>(s)]) << c.rows[0] << ": " << s;
    for (char s : c.states) EXPECT_FALSE(missing.Is[static_cast<unsigned char>(s)]) << c.rows[0] << ": " << s;
    EXPECT_EQ(missing.Cells, c.cells) << c.rows[0];
    EXPECT_EQ(missing.Ambiguous, c.ambiguous) << c.rows[0];
  }
}

} // namespace
