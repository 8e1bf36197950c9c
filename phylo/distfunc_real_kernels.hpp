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

#include "phylo/distfunc.hpp"
#include "phylo/phylo.hpp"

namespace Phylo::Distfunc::Real_Kernels {

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

// Only columns where both values are present (not below the threshold).
inline Counted_Sum Sum_Of_ESD(const Pair& p, double threshold) {
  int m = 0;
  const double sum = Column_Sum(p, [&m, threshold](double a, double b) {
    if (!(a >= threshold && b >= threshold)) return 0.0;
    ++m;
    const double t = a - b;
    return t * t;
  });
  return {sum, m};
}

inline Counted_Sum Sum_Of_ED(const Pair& p, double threshold) {
  int m = 0;
  const double sum = Column_Sum(p, [&m, threshold](double a, double b) {
    if (!(a >= threshold && b >= threshold)) return 0.0;
    ++m;
    return std::fabs(a - b);
  });
  return {sum, m};
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

inline double Cosine(const Pair& p) {
  return Within_Unit(Sum_Of_Products(p) / Real_Chars::Sqrt(p.q_j * p.q_i));
}

// Throws Argument_Error when the centred sums of squares have opposite signs
// (a constant row can give a tiny negative one).
inline double Correlation(const Pair& p, const Constants& c) {
  return Within_Unit((Sum_Of_Products(p) - p.s_j * p.s_i * c.inv_n) / Real_Chars::Sqrt(p.q_j * p.q_i));
}

// The distance of one pair, before the range check.
template <Real_Formula F>
inline double Distance(const Pair& p, const Constants& c) {
  using enum Real_Formula;
  using Real_Chars::Sqrt;
  if constexpr (F == BRAY_CURTIS) {
    return Manhattan(p) / (p.s_j + p.s_i);
  } else if constexpr (F == CANBERRA) {
    const Counted_Sum t = Canberra(p);
    return t.sum / static_cast<double>(t.m);
  } else if constexpr (F == CHORD) {
    return Sqrt(1.0 - Cosine(p)) * c.sqrt2;
  } else if constexpr (F == CLARK) {
    const Counted_Sum t = Clark(p);
    return Sqrt(t.sum / static_cast<double>(t.m));
  } else if constexpr (F == EDGAR) {
    return 1.0 - Sum_Of_Mins(p) / Real_Chars::Min(p.s_i, p.s_j);
  } else if constexpr (F == EUCLIDEAN) {
    return Sqrt(Squared_Differences(p) * c.inv_n);
  } else if constexpr (F == EXCLUSIVE_EUCLIDEAN) {
    const Counted_Sum t = Sum_Of_ESD(p, c.threshold);
    return Sqrt(t.sum / static_cast<double>(t.m));
  } else if constexpr (F == EXCLUSIVE_MANHATTAN) {
    const Counted_Sum t = Sum_Of_ED(p, c.threshold);
    return t.sum / static_cast<double>(t.m);
  } else if constexpr (F == GEODESIC) {
    return Real_Chars::Arccos(Cosine(p));
  } else if constexpr (F == DRAVIK) {
    return 1.0 - ((p.s_j + p.s_i) * 0.5) / Dravik_Sum(p);
  } else if constexpr (F == GOWER_D9) {
    const Gower_Sums t = Sum_Of_D9(p);
    return t.differences / t.maxima;
  } else if constexpr (F == GOWER_D10) {
    const Counted_Sum t = Sum_Of_D10(p);
    return 1.0 - t.sum / static_cast<double>(t.m);
  } else if constexpr (F == HELLINGER) {
    return Sqrt(Squared_Differences(p));   // over rows of roots
  } else if constexpr (F == KULCZYNSKI) {
    const double mins = Sum_Of_Mins(p);
    return 1.0 - (mins / p.s_i + mins / p.s_j) * 0.5;
  } else if constexpr (F == MANHATTAN) {
    return Manhattan(p) * c.inv_n;
  } else {
    static_assert(F == PEARSON);
    return (1.0 - Correlation(p, c)) * 0.5;
  }
}

} // namespace Phylo::Distfunc::Real_Kernels
