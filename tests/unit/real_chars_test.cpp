#include <gtest/gtest.h>

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "transform/real_chars.hpp"

using namespace Karvel;

namespace {

using Phylo::Real_Matrix;
using Phylo::Real_Chars::Row_Range_Error;
using Phylo::Real_Chars::Transform_Matrix;
using Phylo::Real_Chars::Transformation;
using Rows = std::vector<std::vector<double>>;

Real_Matrix make(const Rows& rows) {
  Real_Matrix m;
  for (const auto& r : rows) m.Append_Row(std::span<const double>(r));
  return m;
}

Rows values(const Real_Matrix& m) {
  Rows out;
  for (int i = 0; i < m.Rows(); ++i) {
    auto r = m.Row(i);
    out.emplace_back(r.begin(), r.end());
  }
  return out;
}

Rows transformed(const Rows& rows, std::initializer_list<Transformation> steps) {
  Real_Matrix m = make(rows);
  for (Transformation t : steps) Transform_Matrix(m, t);
  return values(m);
}

const Rows Worked = {{1, 2, 0}, {3, 2, 0}, {0, 4, 0}};

TEST(RealCharsTransform, WorkedExampleToSixDecimals) {
  struct Case {
    Transformation t;
    Rows expected;
  };
  const std::vector<Case> cases = {
      {Transformation::ROW_FRACTIONS, {{0.333333, 0.666667, 0}, {0.6, 0.4, 0}, {0, 1, 0}}},
      {Transformation::COLUMN_FRACTIONS, {{0.25, 0.25, 0}, {0.75, 0.25, 0}, {0, 0.5, 0}}},
      {Transformation::FOR_CHI, {{0.288675, 0.408248, 0}, {0.519615, 0.244949, 0}, {0, 0.612372, 0}}},
      {Transformation::RANGING, {{0.333333, 0.5, 0}, {1, 0.5, 0}, {0, 1, 0}}},
      {Transformation::FULL_RANGING, {{0.333333, 0, 0.5}, {1, 0, 0.5}, {0, 1, 0.5}}},
      {Transformation::Z_SCORES, {{0.801784, 2.12132, 0}, {2.405351, 2.12132, 0}, {0, 4.242641, 0}}},
      {Transformation::FULL_Z_SCORES,
       {{-0.267261, -0.707107, 0}, {1.336306, -0.707107, 0}, {-1.069045, 1.414214, 0}}},
  };
  for (const Case& c : cases) {
    const Rows got = transformed(Worked, {c.t});
    ASSERT_EQ(got.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      ASSERT_EQ(got[i].size(), 3u);
      for (std::size_t j = 0; j < 3; ++j)
        EXPECT_NEAR(got[i][j], c.expected[i][j], 5e-7)
            << "transformation " << static_cast<int>(c.t) << " at (" << i << ", " << j << ")";
    }
  }
}

// Values where another (mathematically equal) order of operations gives a
// different double: these pin the formulas down to the last bit.
TEST(RealCharsTransform, OperationOrderToTheLastBit) {
  // Multiplication by the reciprocal of the row sum, not division: 3 * (1/5).
  const Rows rf = transformed(Worked, {Transformation::ROW_FRACTIONS});
  EXPECT_EQ(rf[1][0], 0.6000000000000001);
  EXPECT_EQ(rf[2][1], 1.0);

  const Rows cf = transformed(Worked, {Transformation::COLUMN_FRACTIONS});
  EXPECT_EQ(cf[0], (std::vector<double>{0.25, 0.25, 0.0}));
  EXPECT_EQ(cf[1], (std::vector<double>{0.75, 0.25, 0.0}));

  // (x * f) * h; dividing by the row sum first gives ...631.
  const Rows chi = transformed(Worked, {Transformation::FOR_CHI});
  EXPECT_EQ(chi[1][0], 0.5196152422706632);
  EXPECT_EQ(chi[2][1], 0.6123724356957945);
  // ... and x * (f * h) gives ...857 here.
  EXPECT_EQ(transformed({{2, 3}, {1, 1}}, {Transformation::FOR_CHI})[0][1], 0.4242640687119286);

  // Variance from the sum and sum of squares; a two-pass variance gives
  // 2.1213203435596424 and -0.7071067811865474 instead.
  const Rows z = transformed(Worked, {Transformation::Z_SCORES});
  EXPECT_EQ(z[0][1], 2.121320343559642);
  EXPECT_EQ(z[2][1], 4.242640687119284);
  const Rows fz = transformed(Worked, {Transformation::FULL_Z_SCORES});
  EXPECT_EQ(fz[0][1], -0.7071067811865472);
  EXPECT_EQ(fz[2][1], 1.414213562373095);
  EXPECT_EQ(fz[0][0], -0.26726124191242434);

  const Rows fr = transformed(Worked, {Transformation::FULL_RANGING});
  EXPECT_EQ(fr[1], (std::vector<double>{1.0, 0.0, 0.5}));
}

TEST(RealCharsTransform, RanksBreakTiesAsTheHeapSortLeavesThem) {
  struct Case {
    std::vector<double> row;
    std::vector<double> ranks;
  };
  const std::vector<Case> cases = {
      {{3, 1, 2}, {2, 0, 1}},
      {{1, 2, 3, 4, 5}, {0, 1, 2, 3, 4}},
      {{5, 4, 3, 2, 1}, {4, 3, 2, 1, 0}},
      {{2, 1, 2, 1}, {2, 0, 3, 1}},
      {{5, 5, 5}, {1, 2, 0}},
      {{5, 5}, {0, 1}},
      {{1, 1, 1, 1}, {1, 2, 0, 3}},
      {{7, 7, 7, 7, 7, 7}, {3, 4, 2, 5, 1, 0}},
      {{0.5, 0.5, 0.2, 0.9, 0.5}, {2, 3, 0, 4, 1}},
      {{42}, {0}},
  };
  for (const Case& c : cases) EXPECT_EQ(transformed({c.row}, {Transformation::RANKS})[0], c.ranks);

  // Each row is ranked on its own, with one pair array reused for all rows.
  EXPECT_EQ(transformed({{3, 1, 2}, {5, 5, 5}, {1, 2, 3}}, {Transformation::RANKS}),
            (Rows{{2, 0, 1}, {1, 2, 0}, {0, 1, 2}}));
}

// The midrank of x, written from its definition: one more than the count
// of smaller values, plus half the count of the other values equal to it.
std::vector<double> Midranks(const std::vector<double>& row) {
  std::vector<double> ranks;
  for (double x : row) {
    double smaller = 0, equal = 0;
    for (double y : row) {
      smaller += y < x ? 1 : 0;
      equal += y == x ? 1 : 0;
    }
    ranks.push_back(1 + smaller + (equal - 1) / 2);
  }
  return ranks;
}

TEST(RealCharsTransform, AverageRanksAreMidranksFromOne) {
  using Row = std::vector<double>;
  // R's rank(c(10, 20, 20, 30)).
  EXPECT_EQ(transformed({{10, 20, 20, 30}}, {Transformation::AVERAGE_RANKS})[0], (Row{1, 2.5, 2.5, 4}));
  // Without ties the ranks are RANKS' plus one.
  EXPECT_EQ(transformed({{3, 1, 2}}, {Transformation::AVERAGE_RANKS})[0], (Row{3, 1, 2}));
  const std::vector<Row> rows = {
      {1, 2, 3, 4, 5},                    // no ties
      {5, 4, 3, 2, 1},                    // no ties, descending
      {1, 1, 1, 2, 3},                    // a run at the start
      {3, 2, 9, 9, 9},                    // a run at the end
      {7, 7, 7, 7, 7, 7},                 // all equal
      {5, 5},                             // two, equal
      {2, 1, 2, 1, 3, 1},                 // interleaved runs
      {0.5, 0.5, 0.2, 0.9, 0.5, -1e300},  // a run among others, one far below
      {0.0, -0.0, 1.0, -0.0},             // -0.0 equals 0.0
      {42},
  };
  for (const Row& row : rows)
    EXPECT_EQ(transformed({row}, {Transformation::AVERAGE_RANKS})[0], Midranks(row)) << ::testing::PrintToString(row);

  // A long row of few distinct values: long runs everywhere, and each row
  // ranked on its own with one pair array reused for all of them.
  Rows many(3);
  for (int j = 0; j < 1000; ++j) {
    many[0].push_back(static_cast<double>((j * 7919) % 13));
    many[1].push_back(static_cast<double>(j % 2));
    many[2].push_back(static_cast<double>(999 - j));
  }
  const Rows got = transformed(many, {Transformation::AVERAGE_RANKS});
  for (std::size_t i = 0; i < many.size(); ++i) EXPECT_EQ(got[i], Midranks(many[i])) << "row " << i;
  EXPECT_EQ(got[1][0], 250.5);
  EXPECT_EQ(got[1][1], 750.5);
}

TEST(RealCharsTransform, SingleTaxon) {
  const Rows one = {{1.5, -2, 0}};
  EXPECT_EQ(transformed(one, {Transformation::Z_SCORES}), one);
  EXPECT_EQ(transformed(one, {Transformation::FULL_Z_SCORES}), (Rows{{0, 0, 0}}));
  EXPECT_EQ(transformed(one, {Transformation::FULL_RANGING}), (Rows{{0.5, 0.5, 0.5}}));
}

TEST(RealCharsTransform, RangingDividesByTheMaximumEvenWhenNegative) {
  EXPECT_EQ(transformed({{-2}, {-4}}, {Transformation::RANGING}), (Rows{{1}, {2}}));
  // A zero maximum leaves the column alone rather than dividing by zero.
  EXPECT_EQ(transformed({{0, 2}, {-3, 1}}, {Transformation::RANGING}), (Rows{{0, 1}, {-3, 0.5}}));
}

TEST(RealCharsTransform, ZeroSumRowsBecomeZeros) {
  const Rows rows = {{1, -1, 0}, {1, 1, 2}};
  EXPECT_EQ(transformed(rows, {Transformation::ROW_FRACTIONS}), (Rows{{0, 0, 0}, {0.25, 0.25, 0.5}}));
  const Rows chi = transformed(rows, {Transformation::FOR_CHI});
  EXPECT_EQ(chi[0], (std::vector<double>{0, 0, 0}));
  // Column 2 sums to zero as well, so its factor is zero in every row.
  EXPECT_EQ(chi[1][1], 0.0);
}

TEST(RealCharsTransform, TransformationsApplyInSequence) {
  // A negative row sum reverses the order of the row fractions, so the
  // ranks of the fractions differ from the ranks of the raw values.
  EXPECT_EQ(transformed({{-1, -3, -2}}, {Transformation::RANKS}), (Rows{{2, 0, 1}}));
  EXPECT_EQ(transformed({{-1, -3, -2}}, {Transformation::ROW_FRACTIONS, Transformation::RANKS}),
            (Rows{{0, 2, 1}}));
}

TEST(RealCharsTransform, RowsWithoutCharactersAreLeftAlone) {
  for (int t = 0; t <= static_cast<int>(Transformation::AVERAGE_RANKS); ++t) {
    Real_Matrix m = make({{}, {}});
    EXPECT_NO_THROW(Transform_Matrix(m, static_cast<Transformation>(t)));
    EXPECT_EQ(m.Row_Length(1), 0);
  }
}

// Rounding puts the variance of a constant column just below zero (0.7 in
// five taxa) or just above it (0.3 in three taxa, which would turn 0.3 into
// about 49314742.2); either way the column has no spread.
TEST(RealCharsTransform, ConstantColumnsHaveNoSpread) {
  const Rows sevens = {{0.7, 1}, {0.7, 2}, {0.7, 3}, {0.7, 4}, {0.7, 5}};
  const Rows threes = {{0.3}, {0.3}, {0.3}};

  const Rows z7 = transformed(sevens, {Transformation::Z_SCORES});
  const Rows fz7 = transformed(sevens, {Transformation::FULL_Z_SCORES});
  for (std::size_t i = 0; i < sevens.size(); ++i) {
    EXPECT_EQ(z7[i][0], 0.7);
    EXPECT_EQ(fz7[i][0], 0.0);
    // The other column is standardised as usual (sd of 1..5 is sqrt 2).
    EXPECT_NEAR(fz7[i][1], (static_cast<double>(i) - 2.0) / 1.4142135623730951, 1e-12);
  }
  EXPECT_EQ(transformed(threes, {Transformation::Z_SCORES}), threes);
  EXPECT_EQ(transformed(threes, {Transformation::FULL_Z_SCORES}), (Rows{{0}, {0}, {0}}));
}

TEST(RealCharsTransform, UnequalRowsAreRefusedBeforeAnyChange) {
  const Rows ragged = {{1, 2, 3}, {4, 5, 6}, {7, 8}};
  for (int t = 0; t <= static_cast<int>(Transformation::AVERAGE_RANKS); ++t) {
    Real_Matrix m = make(ragged);
    try {
      Transform_Matrix(m, static_cast<Transformation>(t));
      ADD_FAILURE() << "no Size_Error for transformation " << t;
    } catch (const Phylo::Real_Chars::Basic::Size_Error& e) {
      EXPECT_STREQ(e.Name(), "PHYLO.REAL_CHARS.BASIC.SIZE_ERROR");
      const std::string message = e.what();
      EXPECT_NE(message.find("row 3 has 2 values, row 1 has 3"), std::string::npos) << message;
    }
    EXPECT_EQ(values(m), ragged);
  }
}

TEST(RealCharsTransform, MatrixWithoutRowsIsAConstraintError) {
  Real_Matrix empty;
  EXPECT_THROW(Transform_Matrix(empty, Transformation::RANGING), Errors::Constraint_Error);
}

TEST(RealCharsTransform, ChiConversionRefusesNegativeColumnSums) {
  const Rows rows = {{1, 1, -1.5}, {1, 1, -1}};
  Real_Matrix m = make(rows);
  try {
    Transform_Matrix(m, Transformation::FOR_CHI);
    FAIL() << "no Argument_Error";
  } catch (const Errors::Argument_Error& e) {
    EXPECT_STREQ(e.what(), "square root of a negative number in the chi-square conversion: character 3 sums to -2.5");
  }
  EXPECT_EQ(values(m), rows);
  // Even where a row sum overflows as well.
  EXPECT_THROW(transformed({{1e308, 1e308, -1.5}, {1, 1, -1}}, {Transformation::FOR_CHI}), Errors::Argument_Error);
}

// `row` is the row at fault (-1: a character is). A statistic fails before
// any value changes; a value fails as its row is rewritten.
TEST(RealCharsTransform, ResultsThatAreNotFiniteFailTheRangeCheck) {
  using enum Transformation;
  const struct {
    Rows rows;
    Transformation t;
    int row;
    bool unchanged;
    const char* cause;
  } cases[] = {
      // x / inf would be 0: the fractions of the row came out 0 0.
      {{{1, 3}, {1e308, 1e308}}, ROW_FRACTIONS, 1, true, "the row fractions (-F) are not finite: row 2 sums to inf"},
      {{{1, 1e308}, {1, 1e308}}, COLUMN_FRACTIONS, -1, true,
       "the column fractions (-G) are not finite: character 2 sums to inf"},
      {{{1e-310, 1}, {0, 1}}, FOR_CHI, -1, true,
       "the chi-square conversion (-i) is not finite: character 1 sums to 1e-310, so sqrt(2 / 1e-310) is inf"},
      {{{3e-310, -1e-310}, {1, 1}}, FOR_CHI, 0, true,
       "the chi-square conversion (-i) is not finite: row 1 sums to 2e-310, whose reciprocal is inf"},
      {{{1e308}, {1e308}, {-1}}, Z_SCORES, -1, true,
       "the standardization (-S) is not finite: character 1 sums to inf"},
      // Only the square of the sum overflows: the variance is -inf, which
      // passed for no spread and left the column as it was.
      {{{9e153}, {8e153}}, FULL_Z_SCORES, -1, true,
       "the z scores (-Z) are not finite: the sum of character 1 (1.7000000000000002e+154) squared is inf"},
      {{{1e200}, {-1e200}, {1e-200}}, COLUMN_FRACTIONS, 0, false,
       "the column fractions (-G) are not finite: row 1 becomes inf in character 1 (the character sums to 1e-200)"},
  };
  for (const auto& c : cases) {
    Real_Matrix m = make(c.rows);
    const std::string message = std::string("range check failed: ") + c.cause;
    try {
      Transform_Matrix(m, c.t);
      ADD_FAILURE() << "no range error: " << message;
    } catch (const Row_Range_Error& e) {
      EXPECT_EQ(static_cast<int>(e.Row), c.row) << message;
      EXPECT_EQ(e.what(), message);
    } catch (const Errors::Constraint_Error& e) {
      EXPECT_EQ(c.row, -1) << message;
      EXPECT_EQ(e.what(), message);
    }
    if (c.unchanged) {
      EXPECT_EQ(values(m), c.rows) << message;
    }
  }

  Real_Matrix m = make({{1, 2, 3}, {1e200, -1e200, 1e-200}});
  try {
    Transform_Matrix(m, ROW_FRACTIONS);
    ADD_FAILURE() << "no range error";
  } catch (const Row_Range_Error& e) {
    EXPECT_EQ(e.Labelled("b"), "range check failed: the row fractions (-F) are not finite: row 2 'b' becomes inf "
                               "in character 1 (the row sums to 1e-200)");
  }
}

// Sums that overflow in a column without spread do no harm: the column is
// left alone, or becomes zeros, as any constant column.
TEST(RealCharsTransform, ConstantColumnsOfHugeValuesStillHaveNoSpread) {
  const Rows huge = {{1e308, 1}, {1e308, 2}};
  EXPECT_EQ(transformed(huge, {Transformation::Z_SCORES}), (Rows{{1e308, 2}, {1e308, 4}}));
  EXPECT_EQ(transformed(huge, {Transformation::FULL_Z_SCORES}), (Rows{{0, -1}, {0, 1}}));
}

} // namespace
