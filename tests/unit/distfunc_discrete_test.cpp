#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "distance/distfunc.hpp"
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

} // namespace
