#pragma once
// The arithmetic of one pair of taxa for the real-valued distances: one
// inline summation per kind of column term and one function per formula,
// over two rows of n values. Nothing here allocates, branches on the formula
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

// The distance of a pair from its sums, before the range check. Root and
// Arc_Cosine are the square root and arc cosine to use: the throwing ones of
// the element module, or quiet ones that only note a domain error.
template <Real_Formula F, class Root, class Arc_Cosine>
inline double Finish(const Pair_Tiles::Sums& t, const Pair& p, const Constants& c, Root&& Sqrt,
                     Arc_Cosine&& Arccos) {
  using enum Real_Formula;
  const double sum = t.Sum;
  const double m = t.Second;
  // A row statistic that overflowed would divide a finite sum into a
  // plausible but wrong 0: the distance is not a number instead, and the
  // range check reports it.
  constexpr double undefined = std::numeric_limits<double>::quiet_NaN();
  if constexpr (F == BRAY_CURTIS) {
    const double total = p.s_j + p.s_i;
    if (!std::isfinite(total)) return undefined;
    return sum / total;
  } else if constexpr (F == CANBERRA) {
    return sum / m;
  } else if constexpr (F == CHORD) {
    const double squares = p.q_j * p.q_i;
    if (!std::isfinite(squares)) return undefined;
    return Sqrt(1.0 - Within_Unit(sum / Sqrt(squares))) * c.sqrt2;
  } else if constexpr (F == CLARK) {
    return Sqrt(sum / m);
  } else if constexpr (F == EDGAR) {
    return 1.0 - sum / Real_Chars::Min(p.s_i, p.s_j);
  } else if constexpr (F == EUCLIDEAN) {
    return Sqrt(sum * c.inv_n);
  } else if constexpr (F == EXCLUSIVE_EUCLIDEAN) {
    return Sqrt(sum / m);
  } else if constexpr (F == EXCLUSIVE_MANHATTAN) {
    return sum / m;
  } else if constexpr (F == GEODESIC) {
    const double squares = p.q_j * p.q_i;
    if (!std::isfinite(squares)) return undefined;
    return Arccos(Within_Unit(sum / Sqrt(squares)));
  } else if constexpr (F == DRAVIK) {
    return 1.0 - ((p.s_j + p.s_i) * 0.5) / sum;
  } else if constexpr (F == GOWER_D9) {
    return sum / t.Second;
  } else if constexpr (F == GOWER_D10) {
    return 1.0 - sum / m;
  } else if constexpr (F == HELLINGER) {
    return Sqrt(sum);
  } else if constexpr (F == KULCZYNSKI) {
    if (!std::isfinite(p.s_i) || !std::isfinite(p.s_j)) return undefined;
    return 1.0 - (sum / p.s_i + sum / p.s_j) * 0.5;
  } else if constexpr (F == MANHATTAN) {
    return sum * c.inv_n;
  } else {
    static_assert(F == PEARSON);
    const double squares = p.q_j * p.q_i;
    const double mean_product = p.s_j * p.s_i * c.inv_n;
    if (!std::isfinite(squares) || !std::isfinite(mean_product)) return undefined;
    return (1.0 - Within_Unit((sum - mean_product) / Sqrt(squares))) * 0.5;
  }
}

// The distance of one pair, before the range check; a square root or arc
// cosine out of its domain throws Argument_Error.
template <Real_Formula F>
inline double Distance(const Pair& p, const Constants& c) {
  return Finish<F>(Sums_Of<F>(p, c), p, c, [](double x) { return Real_Chars::Sqrt(x); },
                   [](double x) { return Real_Chars::Arccos(x); });
}

} // namespace Karvel::Phylo::Distfunc::Real_Kernels
