#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "model/model.hpp"

using namespace Karvel;

namespace {

using Phylo::Real_Matrix;
using Phylo::Distfunc::Distances;
using Phylo::Distfunc::Name;
using Phylo::Distfunc::Pair_Argument_Error;
using Phylo::Distfunc::Pair_Range_Error;
using Phylo::Distfunc::Real_Formula;
using enum Real_Formula;

constexpr double Tolerance = 5e-8;

Real_Matrix Matrix(std::initializer_list<std::vector<double>> rows) {
  Real_Matrix m;
  for (const std::vector<double>& row : rows) m.Append_Row(row);
  return m;
}

std::vector<Real_Formula> All_Formulae() {
  std::vector<Real_Formula> all;
  for (const auto& row : Phylo::Distfunc::Formulas::Real)
    if (!row.Implied) all.push_back(row.Value);
  return all;
}

// The distance between the two rows of a two-taxon matrix.
double Between(std::vector<double> x, std::vector<double> y, Real_Formula f, double threshold = 0.0) {
  return Distances(Matrix({x, y}), f, threshold)(0, 1);
}

std::uint64_t Bits(double d) { return std::bit_cast<std::uint64_t>(d); }

// Runs the computation and returns the pair error it must end with.
template <class Error>
Error Failure(const Real_Matrix& m, Real_Formula f, double threshold = 0.0) {
  try {
    Distances(m, f, threshold);
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << Name(f) << " did not fail as expected";
  return Error("", -1, -1);
}

TEST(RealDistances, WorkedExampleRows) {
  const std::vector<double> x{1, 2, 3}, y{2, 2, 5};
  EXPECT_EQ(Between(x, y, MANHATTAN), 1.0);
  EXPECT_EQ(Between(x, y, BRAY_CURTIS), 0.2);
  EXPECT_EQ(Between(x, y, EDGAR), 0.0);
  const struct {
    Real_Formula formula;
    double expected;
  } rounded[] = {
      {EUCLIDEAN, 1.2909944}, {CANBERRA, 0.1944444},  {CLARK, 0.2405626},     {KULCZYNSKI, 0.1666667},
      {DRAVIK, 0.1666667},    {GOWER_D9, 0.3333333},  {GOWER_D10, 0.3},       {HELLINGER, 0.6523850},
      {CHORD, 0.2144368},     {GEODESIC, 0.2148498},  {PEARSON, 0.0669873},
  };
  for (const auto& c : rounded) EXPECT_NEAR(Between(x, y, c.formula), c.expected, Tolerance) << Name(c.formula);
}

TEST(RealDistances, ExclusiveFormulaeSkipMissingValues) {
  // Only the first column has both values present.
  EXPECT_EQ(Between({1, -1, 3}, {2, 5, -2}, EXCLUSIVE_MANHATTAN), 1.0);
  EXPECT_EQ(Between({1, -1, 3}, {2, 5, -2}, EXCLUSIVE_EUCLIDEAN), 1.0);
  // Zero is present, so every column counts.
  EXPECT_NEAR(Between({1, 0, 3}, {2, 4, 1}, EXCLUSIVE_MANHATTAN), 2.3333333, Tolerance);
  EXPECT_NEAR(Between({1, 0, 3}, {2, 4, 1}, EXCLUSIVE_EUCLIDEAN), std::sqrt(7.0), 1e-15);
  // With a threshold of 1 the middle column is missing; a value equal to the
  // threshold is present.
  EXPECT_EQ(Between({1, 0, 3}, {2, 4, 1}, EXCLUSIVE_MANHATTAN, 1.0), 1.5);
  EXPECT_EQ(Between({1, 0, 3}, {2, 4, 1}, EXCLUSIVE_EUCLIDEAN, 1.0), std::sqrt(2.5));
}

TEST(RealDistances, ColumnsThatDoNotCount) {
  // 3 and -3: the signed sum is 0 (not counted by CLARK), the absolute one is
  // not (CANBERRA adds 1); a column of zeros counts for neither.
  EXPECT_NEAR(Between({3, 1, 0}, {-3, 2, 0}, CANBERRA), (1.0 + 1.0 / 3.0) / 2.0, 1e-15);
  EXPECT_NEAR(Between({3, 1, 0}, {-3, 2, 0}, CLARK), 1.0 / 3.0, 1e-15);
  // GOWER_D10: (0, 0) neither adds nor counts, (0, 4) adds 0 and counts.
  EXPECT_EQ(Between({0, 0, 2}, {0, 4, 2}, GOWER_D10), 0.5);
}

TEST(RealDistances, OneTaxonGivesASingleZero) {
  for (Real_Formula f : All_Formulae()) {
    const Generic::Square_Block d = Distances(Matrix({{-1, 0, 2}}), f, 0.0);
    ASSERT_EQ(d.Size(), 1);
    EXPECT_EQ(Bits(d(0, 0)), Bits(0.0)) << Name(f);
  }
}

// Every pair of a larger matrix must come out exactly as if its two rows were
// the whole matrix: the per-pair counters and the accumulator start afresh,
// and each pair reads its own rows and row quantities. The block is
// symmetric bit for bit with +0.0 on the diagonal.
TEST(RealDistances, EachPairIndependentAndMirrored) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(0.01, 10.0);
  constexpr int taxa = 6, characters = 7;
  std::vector<std::vector<double>> rows(taxa, std::vector<double>(characters));
  for (auto& row : rows)
    for (double& v : row) v = value(random);
  rows[2][1] = 0.0;  // a column that some formulae skip
  rows[4][1] = 0.0;
  Real_Matrix m;
  for (const auto& row : rows) m.Append_Row(row);

  for (Real_Formula f : All_Formulae()) {
    const Generic::Square_Block d = Distances(m, f, 0.0);
    ASSERT_EQ(d.Size(), taxa);
    for (int i = 0; i < taxa; ++i) {
      EXPECT_EQ(Bits(d(i, i)), Bits(0.0)) << Name(f);
      for (int j = i + 1; j < taxa; ++j) {
        EXPECT_EQ(Bits(d(i, j)), Bits(d(j, i))) << Name(f) << " " << i << "," << j;
        const double alone =
            Between(rows[static_cast<std::size_t>(i)], rows[static_cast<std::size_t>(j)], f);
        EXPECT_EQ(Bits(d(i, j)), Bits(alone)) << Name(f) << " " << i << "," << j;
      }
    }
  }
}

// The roots are taken once per value, not per pair; the result must be the
// same bits as taking them column by column.
TEST(RealDistances, HellingerAsIfRootedPerColumn) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> value(0.0, 1e6);
  std::vector<std::vector<double>> rows(4, std::vector<double>(9));
  for (auto& row : rows)
    for (double& v : row) v = value(random);
  rows[1][0] = 0.0;
  rows[2][0] = -0.0;
  Real_Matrix m;
  for (const auto& row : rows) m.Append_Row(row);
  const Generic::Square_Block d = Distances(m, HELLINGER, 0.0);
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = i + 1; j < rows.size(); ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < rows[i].size(); ++k) {
        const double t = std::sqrt(rows[i][k]) - std::sqrt(rows[j][k]);
        sum = k == 0 ? t * t : sum + t * t;
      }
      EXPECT_EQ(Bits(d(static_cast<int>(i), static_cast<int>(j))), Bits(std::sqrt(sum))) << i << "," << j;
    }
}

TEST(RealDistances, EmptyDenominatorsFailTheRangeCheck) {
  // The failing pair is the second and third taxon.
  const Real_Matrix zeros = Matrix({{1, 2}, {0, 0}, {0, 0}});
  for (Real_Formula f : {BRAY_CURTIS, CANBERRA, CLARK}) {
    const Pair_Range_Error e = Failure<Pair_Range_Error>(zeros, f);
    EXPECT_EQ(e.I, 1) << Name(f);
    EXPECT_EQ(e.J, 2) << Name(f);
    EXPECT_NE(std::string(e.what()).find(std::string("the ") + Name(f) + " distance is not a number"),
              std::string::npos)
        << e.what();
  }
  EXPECT_STREQ(Failure<Pair_Range_Error>(Matrix({{0, 0}, {0, 0}}), BRAY_CURTIS).what(),
               "range check failed: the BRAY_CURTIS distance is not a number (the two rows sum to 0)");
  EXPECT_EQ(Between({0, 0}, {0, 0}, MANHATTAN), 0.0);
  EXPECT_EQ(Between({0, 0}, {0, 0}, EUCLIDEAN), 0.0);

  // No column where both values are present, or with a larger value other
  // than 0: m = 0.
  const struct {
    Real_Formula formula;
    const char* cause;
  } uncounted[] = {
      {EXCLUSIVE_EUCLIDEAN, "no column has both values present (not below 0)"},
      {EXCLUSIVE_MANHATTAN, "no column has both values present (not below 0)"},
      {GOWER_D10, "the larger value is 0 in every column"},
  };
  for (const auto& c : uncounted) {
    const std::string message = Failure<Pair_Range_Error>(Matrix({{0, -1}, {-2, 0}}), c.formula).what();
    EXPECT_NE(message.find(c.cause), std::string::npos) << message;
  }

  // Zero sums of squares, a constant row: the ratio is NaN and is not
  // clamped into a distance.
  for (Real_Formula f : {CHORD, GEODESIC})
    EXPECT_NE(std::string(Failure<Pair_Range_Error>(Matrix({{1, 2}, {0, 0}}), f).what())
                  .find("the second row has a sum of squares of 0"),
              std::string::npos);
  EXPECT_NE(std::string(Failure<Pair_Range_Error>(Matrix({{1, 1, 1}, {1, 2, 3}}), PEARSON).what())
                .find("the first row has all values equal"),
            std::string::npos);
}

TEST(RealDistances, NegativeAndInfiniteDistancesFailTheRangeCheck) {
  const std::string negative = Failure<Pair_Range_Error>(Matrix({{1, -3}, {1, -2}}), BRAY_CURTIS).what();
  EXPECT_NE(negative.find("is negative (-0.3333333333333333)"), std::string::npos) << negative;
  EXPECT_NE(negative.find("the two rows sum to -3"), std::string::npos) << negative;

  const std::string infinite = Failure<Pair_Range_Error>(Matrix({{1.7e308}, {-1.7e308}}), MANHATTAN).what();
  EXPECT_NE(infinite.find("the MANHATTAN distance is infinite"), std::string::npos) << infinite;
}

// Finite values whose distance overflows on the way: the cause says which
// term, sum or quotient did, not that the rows hold negative values or
// have all values equal.
TEST(RealDistances, OverflowsAreNamedAsTheCause) {
  const struct {
    Real_Formula formula;
    std::vector<double> x, y;
    const char* cause;
  } cases[] = {
      {EUCLIDEAN, {1e200}, {0}, "the squared differences overflow"},
      {EXCLUSIVE_EUCLIDEAN, {1e200, 1}, {0, 1}, "the squared differences overflow"},
      {EXCLUSIVE_MANHATTAN, {1.7e308, 1.7e308}, {0, 0}, "the absolute differences overflow"},
      {HELLINGER, {1.7e308, 1.7e308}, {0, 0}, "the squared differences of the square roots overflow"},
      {BRAY_CURTIS, {1.5e308, 1e308}, {-0.6e308, 1e308},
       "the absolute differences overflow and the two rows sum to inf"},
      {BRAY_CURTIS, {1e200, -1e200, 1e-300}, {0, 0, 0},
       "the absolute differences sum to 2e+200 and the two rows to 1e-300, whose quotient overflows"},
      {CANBERRA, {1, 1e308}, {1, -1e308},
       "the absolute difference and the sum of the absolute values overflow in column 2"},
      {CLARK, {1.5e308}, {-0.6e308}, "the difference overflows in column 1"},
      {GOWER_D10, {1e-300}, {-1e300}, "the ratios of the smaller to the larger value overflow"},
      {GOWER_D9, {1.5e308, 1e308}, {-0.6e308, 1e308},
       "the absolute differences overflow and the column maxima sum to inf"},
      {GOWER_D9, {1e200, -1e200, 1e-300}, {1e200, -3e200, 0},
       "the absolute differences sum to 2e+200 and the column maxima to 1e-300, whose quotient overflows"},
      {EDGAR, {1e308, -1e308, -1e308, 1e308, 5}, {-1e308, 1e308, 1e308, -1e308, 5}, "the column minima sum to -inf"},
      {EDGAR, {1e200, -1e200, 1e-300}, {-1e200, 1e200, 1e-300},
       "the column minima sum to -2e+200 and the smaller row to 1e-300, whose quotient overflows"},
      {KULCZYNSKI, {1e200, -1e200, 1e-300}, {-1e200, 1e200, 1e-300},
       "the column minima sum to -2e+200 and the first row to 1e-300, whose quotient overflows"},
      {KULCZYNSKI, {-1e300, 5e299, 5e299, 1e-8}, {5e299, -1e300, 5e299, 1e-8},
       "the column minima sum to -1.5e+300 and the rows to 1e-08 and 1e-08, whose quotients sum to -inf"},
      {DRAVIK, {1e308, 1e308, 5}, {-1e308, -1e308, 10}, "the first row sums to inf and the second row sums to -inf"},
      {CHORD, {1e200, 1}, {1e200, 1}, "both rows have a sum of squares of inf"},
      {GEODESIC, {1e-100, 0}, {0, 1e-100}, "the sums of squares 1e-200 and 1e-200 multiply to 0"},
      {PEARSON, {1e308, 1e308}, {-1e308, -1e308}, "the first row sums to inf and the second row sums to -inf"},
      {PEARSON, {9e153, 8e153}, {1, 1},
       "the first row has a sum whose square overflows and the second row has all values equal"},
      {PEARSON, {1, 1}, {1e200, 1},
       "the first row has all values equal and the second row has a sum of squares of inf"},
      {PEARSON, {1e-100, -1e-100, 0}, {0, 0, 1e-100},
       "the centred sums of squares 2e-200 and 6.666666666666667e-201 multiply to 0"},
  };
  for (const auto& c : cases) {
    const std::string message = Failure<Pair_Range_Error>(Matrix({c.x, c.y}), c.formula).what();
    const std::string tail = std::string(" (") + c.cause + ")";
    EXPECT_TRUE(message.size() > tail.size() && message.ends_with(tail)) << Name(c.formula) << ": " << message;
  }
}

// A row with an implied transformation computes with its formula's own
// row, and so reports a failing pair as that row does.
TEST(RealDistances, ImpliedRowsNameTheCauseOfTheirFormula) {
  for (const auto& row : Phylo::Distfunc::Formulas::Real)
    EXPECT_EQ(row.Cause.Function, Phylo::Distfunc::Formulas::Row_Of(row.Value).Cause.Function) << row.Name;
}

TEST(RealDistances, DomainErrorsNameTheFormulaAndPair) {
  const Pair_Argument_Error e = Failure<Pair_Argument_Error>(Matrix({{1, 2}, {0.5, 1}, {1, -0.25}}), HELLINGER);
  EXPECT_STREQ(e.what(), "square root of a negative number (-0.25) in HELLINGER");
  EXPECT_EQ(e.I, 0);
  EXPECT_EQ(e.J, 2);
  // Still the condition the driver reports as an argument error.
  EXPECT_THROW(Distances(Matrix({{1, 2}, {1, -0.25}}), HELLINGER, 0.0), Errors::Argument_Error);

  // A constant row can get a centred sum of squares just below 0; against
  // one just above, the product under the root is negative.
  const Pair_Argument_Error pearson =
      Failure<Pair_Argument_Error>(Matrix({{2.1, 2.1, 2.1}, {0.3, 0.3, 0.3}}), PEARSON);
  EXPECT_NE(std::string(pearson.what()).find("in PEARSON"), std::string::npos) << pearson.what();
}

TEST(RealDistances, MalformedMatrices) {
  try {
    Distances(Matrix({{1, 2, 3}, {1, 2, 3}, {1, 2}}), EUCLIDEAN, 0.0);
    ADD_FAILURE() << "rows of different lengths were accepted";
  } catch (const Phylo::Real_Chars::Basic::Size_Error& e) {
    EXPECT_STREQ(e.Name(), "PHYLO.REAL_CHARS.BASIC.SIZE_ERROR");
    const std::string message = e.what();
    EXPECT_NE(message.find("row 3 has 2 values, row 1 has 3"), std::string::npos) << message;
  }
  EXPECT_THROW(Distances(Real_Matrix(), MANHATTAN, 0.0), Errors::Constraint_Error);
}

TEST(RealDistances, RowsWithoutCharacters) {
  const Real_Matrix two = Matrix({{}, {}});
  const Real_Matrix one = Matrix({{}});
  for (Real_Formula f : All_Formulae()) {
    try {
      Distances(two, f, 0.0);
      ADD_FAILURE() << Name(f) << " compared rows without characters";
    } catch (const Phylo::Distfunc::Pair_Taxa&) {
      ADD_FAILURE() << Name(f) << ": not a pair's fault";
    } catch (const Errors::Constraint_Error&) {
    }
    // Alone, a taxon fails only where a per-row quantity has to be summed.
    // (EUCLIDEAN divides by n.)
    const bool sums_rows = Phylo::Distfunc::Formulas::Row_Of(f).Needs.Sums_Rows() || f == EUCLIDEAN;
    if (sums_rows)
      EXPECT_THROW(Distances(one, f, 0.0), Errors::Constraint_Error) << Name(f);
    else
      EXPECT_EQ(Distances(one, f, 0.0)(0, 0), 0.0) << Name(f);
  }
}

// Rounding can put the cosine or correlation of proportional rows just past
// 1; those rows are at distance 0, not an error.
TEST(RealDistances, RatiosPastOneAreClamped) {
  const std::vector<double> x{0.1, 0.1, 0.2};
  const std::vector<double> y{3.0 * x[0], 3.0 * x[1], 3.0 * x[2]};
  // The unclamped ratios, in the order the formulae use.
  const double p = x[0] * y[0] + x[1] * y[1] + x[2] * y[2];
  const double qx = x[0] * x[0] + x[1] * x[1] + x[2] * x[2];
  const double qy = y[0] * y[0] + y[1] * y[1] + y[2] * y[2];
  const double sx = x[0] + x[1] + x[2], sy = y[0] + y[1] + y[2];
  const double inv_n = 1.0 / 3.0;
  const double cx = qx - (sx * sx) * inv_n, cy = qy - (sy * sy) * inv_n;
  ASSERT_GT(p / std::sqrt(qy * qx), 1.0);
  ASSERT_GT((p - sy * sx * inv_n) / std::sqrt(cy * cx), 1.0);

  for (Real_Formula f : {CHORD, GEODESIC, PEARSON}) EXPECT_EQ(Bits(Between(x, y, f)), Bits(0.0)) << Name(f);
  // Opposite rows: the clamp at -1 gives the largest distances.
  const std::vector<double> minus{-x[0], -x[1], -x[2]};
  EXPECT_NEAR(Between(x, minus, CHORD), 2.0, 1e-15);
  EXPECT_NEAR(Between(x, minus, GEODESIC), 3.141592653589793, 1e-15);
}

TEST(RealDistances, EuclideanOfNearbyLargeValues) {
  // Through sums of squares the difference cancels to 0.
  EXPECT_NEAR(Between({100000000.1, 1}, {100000000.2, 1}, EUCLIDEAN), 0.07071068, Tolerance);
}

TEST(RealDistances, ZeroIsStoredPositive) {
  // 0 divided by a negative sum is -0.0.
  const Generic::Square_Block bray = Distances(Matrix({{-1, -2}, {-1, -2}}), BRAY_CURTIS, 0.0);
  EXPECT_FALSE(std::signbit(bray(0, 1)));
  EXPECT_FALSE(std::signbit(bray(1, 0)));
  EXPECT_FALSE(std::signbit(Between({-1, -2}, {-1, -2}, GOWER_D9)));
}

} // namespace

namespace {

using Phylo::Missing_Rule;
const double NaN = std::numeric_limits<double>::quiet_NaN();

// Under pairwise deletion a pair is its two rows cut down to the columns
// both hold: every formula gives there what it gives those shorter rows
// (their row sums, sums of squares and count m are the pair's), bit for bit.
TEST(PairwiseDeletion, APairIsItsRowsCutToTheSharedColumns) {
  const std::vector<double> x{1.5, NaN, 4.0, 0.25, 7.0, NaN, 2.0, 9.5};
  const std::vector<double> y{3.0, 2.0, NaN, 1.75, 6.5, NaN, 5.0, 0.5};
  const std::vector<double> z{NaN, 8.0, 2.5, 3.0, NaN, 1.0, 4.5, 6.0};
  const Real_Matrix m = Matrix({x, y, z});
  for (Real_Formula f : All_Formulae()) {
    const Generic::Square_Block got = Distances(m, f, 0.0, nullptr, Missing_Rule::PAIRWISE);
    for (auto [i, j] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 2}}) {
      const std::vector<double>* rows[] = {&x, &y, &z};
      std::vector<double> a, b;
      for (std::size_t k = 0; k < x.size(); ++k)
        if (!std::isnan((*rows[i])[k]) && !std::isnan((*rows[j])[k])) {
          a.push_back((*rows[i])[k]);
          b.push_back((*rows[j])[k]);
        }
      EXPECT_EQ(Bits(got(i, j)), Bits(Between(a, b, f))) << Name(f) << " " << i << "," << j;
      EXPECT_EQ(Bits(got(j, i)), Bits(got(i, j)));
    }
  }
}

// The definitions over the shared columns P, written out: the mean forms
// divide by m = |P|, Bray-Curtis and Kulczynski take their sums over P, and
// Pearson is the correlation of the pairwise complete observations.
TEST(PairwiseDeletion, FormulasTakeTheirSumsOverTheSharedColumns) {
  const std::vector<double> x{2.0, NaN, 4.0, 1.0, 7.0, 3.0};
  const std::vector<double> y{3.0, 9.0, 1.0, NaN, 6.0, 5.0};
  std::vector<double> a, b;
  for (std::size_t k = 0; k < x.size(); ++k)
    if (!std::isnan(x[k]) && !std::isnan(y[k])) {
      a.push_back(x[k]);
      b.push_back(y[k]);
    }
  const double m = static_cast<double>(a.size());
  double squares = 0, absolute = 0, sa = 0, sb = 0, mins = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    squares += (a[k] - b[k]) * (a[k] - b[k]);
    absolute += std::fabs(a[k] - b[k]);
    sa += a[k];
    sb += b[k];
    mins += std::min(a[k], b[k]);
  }
  double sab = 0, saa = 0, sbb = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    sab += (a[k] - sa / m) * (b[k] - sb / m);
    saa += (a[k] - sa / m) * (a[k] - sa / m);
    sbb += (b[k] - sb / m) * (b[k] - sb / m);
  }
  const Generic::Square_Block d = Distances(Matrix({x, y}), EUCLIDEAN, 0.0, nullptr, Missing_Rule::PAIRWISE);
  EXPECT_NEAR(d(0, 1), std::sqrt(squares / m), Tolerance);
  const auto pairwise = [&](Real_Formula f) {
    return Distances(Matrix({x, y}), f, 0.0, nullptr, Missing_Rule::PAIRWISE)(0, 1);
  };
  EXPECT_NEAR(pairwise(MANHATTAN), absolute / m, Tolerance);
  EXPECT_NEAR(pairwise(BRAY_CURTIS), absolute / (sa + sb), Tolerance);
  EXPECT_NEAR(pairwise(KULCZYNSKI), 1.0 - (mins / sa + mins / sb) / 2.0, Tolerance);
  EXPECT_NEAR(pairwise(PEARSON), (1.0 - sab / std::sqrt(saa * sbb)) / 2.0, Tolerance);
}

// Two rows that share no character have no distance: the pair fails with
// that cause, or is NaN and counted under --undefined=nan; the other pairs
// keep their values. Without the rule, nothing changes for a complete matrix.
TEST(PairwiseDeletion, APairSharingNoCharacterHasNoDistance) {
  const Real_Matrix m = Matrix({{1.0, NaN, 3.0}, {NaN, 2.0, NaN}, {2.0, 5.0, 1.0}});
  for (Real_Formula f : All_Formulae()) {
    try {
      Distances(m, f, 0.0, nullptr, Missing_Rule::PAIRWISE);
      ADD_FAILURE() << Name(f) << " did not fail";
    } catch (const Pair_Range_Error& e) {
      EXPECT_EQ(e.I, 0);
      EXPECT_EQ(e.J, 1);
      EXPECT_NE(std::string(e.what()).find("no character is present in both rows"), std::string::npos)
          << Name(f) << ": " << e.what();
    }
    Phylo::Distfunc::Undefined_Pairs undefined;
    const Generic::Square_Block d = Distances(m, f, 0.0, &undefined, Missing_Rule::PAIRWISE);
    EXPECT_TRUE(std::isnan(d(0, 1)) && std::isnan(d(1, 0))) << Name(f);
    EXPECT_GE(undefined.Count, 1) << Name(f);
    EXPECT_EQ(undefined.I, 0);
    EXPECT_EQ(undefined.J, 1);
  }
  // A shared column where the formula fails is the cause, not the NaN.
  const Real_Matrix negative = Matrix({{NaN, NaN, -1.0}, {NaN, 2.0, 4.0}});
  try {
    Distances(negative, HELLINGER, 0.0, nullptr, Missing_Rule::PAIRWISE);
    ADD_FAILURE() << "HELLINGER of a negative value did not fail";
  } catch (const Pair_Argument_Error& e) {
    EXPECT_EQ(e.I, 0);
  }
}

} // namespace
