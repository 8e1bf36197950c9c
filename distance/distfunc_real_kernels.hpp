#pragma once
// The arithmetic of one pair of taxa for the real-valued distances: one
// inline summation per kind of column term over two rows of n values, and
// what a formula's finish may read besides (the finishes themselves are in
// distfunc_real.cpp, beside their causes of failure). Nothing here allocates, branches on the formula
// at run time or goes through an indirect call, so the pair loop can be
// instantiated per formula and later spread over lanes and threads.
//
// The operation order is part of the result: every summation starts with the
// term of the first column and adds the following ones in ascending order,
// and the formulae are evaluated left to right as written, so the same input
// gives the same bits on every build.

#include <cmath>
#include <limits>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "distance/kernels/pair_tiles.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Distfunc::Real_Kernels {

// Row i (x) and row j (y) with the per-row quantities the formulae use.
struct Pair {
  const double* x;
  const double* y;
  int n;        // characters per row, at least 1
  double s_i;   // row sums
  double s_j;
  double q_i;   // sums of squares; the centred ones for PEARSON
  double q_j;
};

// Fixed for one call.
struct Constants {
  double inv_n;
  double sqrt2;
  double threshold;   // values below it are missing in the exclusive formulae
};

// A summation together with the number m of columns that contributed.
struct Counted_Sum {
  double sum;
  int m;
};

template <class Term>
inline double Column_Sum(const Pair& p, Term term) {
  double sum = term(p.x[0], p.y[0]);
  for (int k = 1; k < p.n; ++k) sum = sum + term(p.x[k], p.y[k]);
  return sum;
}

inline double Manhattan(const Pair& p) {
  return Column_Sum(p, [](double a, double b) { return std::fabs(a - b); });
}

// Summing the squared differences directly keeps EUCLIDEAN accurate for
// nearby rows of large values, where Q(i) + Q(j) - 2P cancels to nothing.
inline double Squared_Differences(const Pair& p) {
  return Column_Sum(p, [](double a, double b) {
    const double t = a - b;
    return t * t;
  });
}

inline double Sum_Of_Products(const Pair& p) {
  return Column_Sum(p, [](double a, double b) { return a * b; });
}

inline double Sum_Of_Mins(const Pair& p) {
  return Column_Sum(p, [](double a, double b) { return Real_Chars::Min(a, b); });
}

inline double Dravik_Sum(const Pair& p) {
  return Column_Sum(p, [](double a, double b) { return Real_Chars::Max(a, b); });
}

// HELLINGER compares square roots. They are taken once per value and call
// (Root_Of) rather than once per pair, and the pair loop then reads rows of
// roots: the squared differences of two such rows are the HELLINGER sum.
// A negative value has no root and becomes NaN there, so a pair whose
// distance comes out NaN is recomputed from the values themselves
// (Hellinger_Of_Values) to raise the domain error at the right column.
inline double Root_Of(double v) {
  return v < 0.0 ? std::numeric_limits<double>::quiet_NaN() : Real_Chars::Sqrt(v);
}

// Throws Argument_Error for a negative value.
inline double Hellinger_Of_Values(const Pair& p) {
  return Column_Sum(p, [](double a, double b) {
    const double t = Real_Chars::Sqrt(a) - Real_Chars::Sqrt(b);
    return t * t;
  });
}

// A column whose absolute values sum to 0 neither adds nor counts.
inline Counted_Sum Canberra(const Pair& p) {
  int m = 0;
  const double sum = Column_Sum(p, [&m](double a, double b) {
    const double denominator = std::fabs(a) + std::fabs(b);
    if (denominator == 0.0) return 0.0;
    ++m;
    return std::fabs(a - b) / denominator;
  });
  return {sum, m};
}

// Unlike CANBERRA the signed sum decides: 3 and -3 do not count.
inline Counted_Sum Clark(const Pair& p) {
  int m = 0;
  const double sum = Column_Sum(p, [&m](double a, double b) {
    const double denominator = a + b;
    if (denominator == 0.0) return 0.0;
    ++m;
    const double t = (a - b) / denominator;
    return t * t;
  });
  return {sum, m};
}

// Only columns where both values are present (not below the threshold)
// add their term and count.
template <class Term>
inline Counted_Sum Sum_Where_Present(const Pair& p, double threshold, Term term) {
  int m = 0;
  const double sum = Column_Sum(p, [&m, threshold, term](double a, double b) {
    if (!(a >= threshold && b >= threshold)) return 0.0;
    ++m;
    return term(a, b);
  });
  return {sum, m};
}

inline Counted_Sum Sum_Of_ESD(const Pair& p, double threshold) {
  return Sum_Where_Present(p, threshold, [](double a, double b) {
    const double t = a - b;
    return t * t;
  });
}

inline Counted_Sum Sum_Of_ED(const Pair& p, double threshold) {
  return Sum_Where_Present(p, threshold, [](double a, double b) { return std::fabs(a - b); });
}

// The ratio of the smaller to the larger value; a column whose larger value
// is 0 neither adds nor counts. Written with selects rather than branches:
// which value is larger is a coin toss on real data.
inline Counted_Sum Sum_Of_D10(const Pair& p) {
  int m = 0;
  const double sum = Column_Sum(p, [&m](double a, double b) {
    const bool a_larger = a > b;
    const double larger = a_larger ? a : b;
    const double smaller = a_larger ? b : a;
    const bool counts = larger != 0.0;
    m += counts ? 1 : 0;
    const double ratio = smaller / larger;
    return counts ? ratio : 0.0;
  });
  return {sum, m};
}

// The absolute differences, and the column maxima summed from 0.0 on.
struct Gower_Sums {
  double differences;
  double maxima;
};
inline Gower_Sums Sum_Of_D9(const Pair& p) {
  double maxima = 0.0;
  const double differences = Column_Sum(p, [&maxima](double a, double b) {
    maxima = maxima + Real_Chars::Max(a, b);
    return std::fabs(a - b);
  });
  return {differences, maxima};
}

// A cosine or correlation computed in floating point can land just past +-1
// (proportional rows do); that is rounding, not data, so it is pulled back.
// NaN passes through and fails the range check.
inline double Within_Unit(double ratio) {
  if (ratio > 1.0) return 1.0;
  if (ratio < -1.0) return -1.0;
  return ratio;
}

// The summation of each formula and its term for the tiled kernels.
constexpr Pair_Tiles::Term Term_Of(Real_Formula f) { return Formulas::Row_Of(f).Term; }

// The sums of one pair as the tiled kernels give them: the summation, and
// the count m (or, for GOWER_D9, the sum of maxima).
template <Real_Formula F>
inline Pair_Tiles::Sums Sums_Of(const Pair& p, const Constants& c) {
  using enum Real_Formula;
  constexpr Pair_Tiles::Term T = Term_Of(F);
  using Term = Pair_Tiles::Term;
  if constexpr (T == Term::ABS_DIFF) return {Manhattan(p), 0.0};
  else if constexpr (T == Term::SQUARED_DIFF) return {Squared_Differences(p), 0.0};
  else if constexpr (T == Term::PRODUCT) return {Sum_Of_Products(p), 0.0};
  else if constexpr (T == Term::MIN) return {Sum_Of_Mins(p), 0.0};
  else if constexpr (T == Term::MAX) return {Dravik_Sum(p), 0.0};
  else if constexpr (T == Term::D9) {
    const Gower_Sums t = Sum_Of_D9(p);
    return {t.differences, t.maxima};
  } else {
    Counted_Sum t;
    if constexpr (T == Term::CANBERRA) t = Canberra(p);
    else if constexpr (T == Term::CLARK) t = Clark(p);
    else if constexpr (T == Term::EXCL_SQUARED) t = Sum_Of_ESD(p, c.threshold);
    else if constexpr (T == Term::EXCL_ABS) t = Sum_Of_ED(p, c.threshold);
    else t = Sum_Of_D10(p);
    return {t.sum, static_cast<double>(t.m)};
  }
}

// What a finish may read of a pair besides its sums: the row statistics
// its formula's row asks for, and no other. Reading one the row leaves out
// (which the call would not have computed) does not compile.
template <Real_Formula F>
class Row_Stats {
public:
  Row_Stats(const Pair& p) : p_(p) {} // NOLINT: converts where Finish is called
  double s_i() const { return Sums(p_.s_i); }
  double s_j() const { return Sums(p_.s_j); }
  double q_i() const { return Squares(p_.q_i); }
  double q_j() const { return Squares(p_.q_j); }

private:
  static constexpr Formulas::Stats Needs = Formulas::Row_Of(F).Needs;
  static double Sums(double s) {
    static_assert(Needs.Has(Formulas::Stat::ROW_SUMS), "the formula's row does not ask for Stat::ROW_SUMS");
    return s;
  }
  static double Squares(double q) {
    static_assert(Needs.Has(Formulas::Stat::SUMS_OF_SQUARES | Formulas::Stat::CENTRED_SQUARES),
                  "the formula's row does not ask for its sums of squares");
    return q;
  }
  Pair p_;
};

} // namespace Karvel::Phylo::Distfunc::Real_Kernels
