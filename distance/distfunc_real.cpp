// Pairwise distances between the rows of a matrix of continuous characters.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "threads/parallel.hpp"
#include "threads/progress.hpp"
#include "distance/distfunc_pairs.hpp"
#include "distance/distfunc_real_kernels.hpp"
#include "distance/kernels/kernels.hpp"
#include "distance/kernels/pair_tiles.hpp"

namespace Karvel::Phylo::Distfunc {

const char* Name(Real_Formula formula) { return Formulas::Row_Of(formula).Name; }

// The finish of each formula: its distance from the sums of a pair and the
// row statistics its row asks for.
namespace Real_Kernels {

// The distance of a pair from its sums, before the range check. Root and
// Arc_Cosine are the square root and arc cosine to use: the throwing ones of
// the element module, or quiet ones that only note a domain error.
template <Real_Formula F, class Root, class Arc_Cosine>
inline double Finish(const Pair_Tiles::Sums& t, const Row_Stats<F>& p, const Constants& c, Root&& Sqrt,
                     Arc_Cosine&& Arccos) {
  using enum Real_Formula;
  const double sum = t.Sum;
  const double m = t.Second;
  // A row statistic that overflowed would divide a finite sum into a
  // plausible but wrong 0: the distance is not a number instead, and the
  // range check reports it.
  constexpr double undefined = std::numeric_limits<double>::quiet_NaN();
  if constexpr (F == BRAY_CURTIS) {
    const double total = p.s_j() + p.s_i();
    if (!std::isfinite(total)) return undefined;
    return sum / total;
  } else if constexpr (F == CANBERRA) {
    return sum / m;
  } else if constexpr (F == CHORD) {
    const double squares = p.q_j() * p.q_i();
    if (!std::isfinite(squares)) return undefined;
    return Sqrt(1.0 - Within_Unit(sum / Sqrt(squares))) * c.sqrt2;
  } else if constexpr (F == CLARK) {
    return Sqrt(sum / m);
  } else if constexpr (F == EDGAR) {
    return 1.0 - sum / Real_Chars::Min(p.s_i(), p.s_j());
  } else if constexpr (F == EUCLIDEAN) {
    return Sqrt(sum * c.inv_n);
  } else if constexpr (F == EXCLUSIVE_EUCLIDEAN) {
    return Sqrt(sum / m);
  } else if constexpr (F == EXCLUSIVE_MANHATTAN) {
    return sum / m;
  } else if constexpr (F == GEODESIC) {
    const double squares = p.q_j() * p.q_i();
    if (!std::isfinite(squares)) return undefined;
    return Arccos(Within_Unit(sum / Sqrt(squares)));
  } else if constexpr (F == DRAVIK) {
    return 1.0 - ((p.s_j() + p.s_i()) * 0.5) / sum;
  } else if constexpr (F == GOWER_D9) {
    return sum / t.Second;
  } else if constexpr (F == GOWER_D10) {
    return 1.0 - sum / m;
  } else if constexpr (F == HELLINGER) {
    return Sqrt(sum);
  } else if constexpr (F == KULCZYNSKI) {
    if (!std::isfinite(p.s_i()) || !std::isfinite(p.s_j())) return undefined;
    return 1.0 - (sum / p.s_i() + sum / p.s_j()) * 0.5;
  } else if constexpr (F == MANHATTAN) {
    return sum * c.inv_n;
  } else {
    static_assert(F == PEARSON);
    const double squares = p.q_j() * p.q_i();
    const double mean_product = p.s_j() * p.s_i() * c.inv_n;
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

} // namespace Real_Kernels

namespace {

// A worker's scratch for its tiles. The workers take tiles from one queue,
// so one that finds no memory for its scratch leaves them to the others;
// the calling thread (worker 0) is always there to take them all, and
// only its failure ends the run.
template <class Sums>
bool Scratch_For(int worker, std::vector<double>& panel, std::size_t panel_size, std::vector<Sums>& sums,
                 std::size_t sums_size) {
  try {
    panel.resize(panel_size);
    sums.resize(sums_size);
    return true;
  } catch (const std::bad_alloc&) {
    if (worker == 0) throw;
    return false;
  }
}

// The square root and arc cosine of a pair's finish, with a value out of
// their domain noted instead of raised: the threads go on with their tiles,
// and the first failing pair is evaluated again afterwards for its cause.
struct Quiet_Domain {
  bool error = false;
  auto Sqrt() {
    return [this](double x) {
      if (x < 0.0) {
        error = true;
        return std::numeric_limits<double>::quiet_NaN();
      }
      return Real_Chars::Sqrt(x);
    };
  }
  auto Arccos() {
    return [this](double x) {
      if (std::fabs(x) > 1.0) {
        error = true;
        return std::numeric_limits<double>::quiet_NaN();
      }
      return Real_Chars::Arccos(x);
    };
  }
};

// One worker of the tiled loops (Fill, Real_Rows): its scratch (a panel of
// rows j, the sums of a chunk of rows i against it) and its quiet square
// root and arc cosine, handed to tiles(panel, sums, domain, sqrt, arccos);
// nothing when the worker gets no scratch (Scratch_For). The domain stays
// a local that tiles, inlined, can keep in a register.
template <class Sums, class Tiles>
void Tile_Worker(int worker, Pair_Tiles::Path path, std::size_t characters, int chunk, int width, Tiles&& tiles) {
  std::vector<double> panel;
  std::vector<Sums> sums;
  if (!Scratch_For(worker, panel, Pair_Tiles::Panel_Size(path, characters), sums,
                   static_cast<std::size_t>(chunk) * static_cast<std::size_t>(width)))
    return;
  Quiet_Domain domain;
  tiles(panel, sums, domain, domain.Sqrt(), domain.Arccos());
}

using enum Real_Formula;
using Generic::Image;
using Real_Kernels::Pair;

using Formulas::Stat;

using Formulas::With_Formula;

// Everything the pair loop reads; fixed for one call.
struct Call {
  const double* values;   // the matrix: row t at values + (t - first) * n
  const double* block;    // the rows the formula reads: the values, or their roots
  int n;
  int first;
  int last;
  std::vector<double> s;   // per taxon, from first; zeros where unused
  std::vector<double> q;
  std::vector<double> roots;
  Real_Kernels::Constants constants;
  // Pairwise deletion on a matrix that holds NaN: every pair sums over the
  // columns it shares, with the per-pair sums its formula reads.
  bool pairwise = false;
  Pair_Tiles::Pair_Stats stats = Pair_Tiles::Pair_Stats::NONE;
  // Then also a bit per present value, `words` a row, from first.
  std::vector<std::uint64_t> present{};
  std::size_t words = 0;

  // The number of columns taxa i and j share.
  int Shared(int i, int j) const {
    const auto row = [this](int t) { return present.data() + static_cast<std::size_t>(t - first) * words; };
    return Kernels::Kernels().Binary_Counts.Count_Common(row(i), row(j), words);
  }

  Pair Pair_Of(int i, int j) const { return Pair_In(block, i, j); }
  Pair Values_Of(int i, int j) const { return Pair_In(values, i, j); }

private:
  Pair Pair_In(const double* rows, int i, int j) const {
    const auto at = [this](int t) { return static_cast<std::size_t>(t - first); };
    const auto row = [&](int t) { return rows + at(t) * static_cast<std::size_t>(n); };
    return {row(i), row(j), n, s[at(i)], s[at(j)], q[at(i)], q[at(j)]};
  }
};

bool Holds_Negative(const Pair& p) {
  for (int k = 0; k < p.n; ++k)
    if (p.x[k] < 0.0 || p.y[k] < 0.0) return true;
  return false;
}

// A value that is neither finite nor a number, if either row holds one.
bool Find_Non_Finite(const Pair& p, double& value) {
  for (int k = 0; k < p.n; ++k)
    for (double v : {p.x[k], p.y[k]})
      if (!std::isfinite(v)) {
        value = v;
        return true;
      }
  return false;
}

// What is wrong with one row, said of one row and of both; empty when
// nothing is.
struct Row_Fault {
  std::string one;
  std::string both;
};

std::string Of_The_Rows(const Row_Fault& first, const Row_Fault& second) {
  if (first.one.empty()) return second.one.empty() ? std::string() : "the second row " + second.one;
  if (second.one.empty()) return "the first row " + first.one;
  if (first.one == second.one) return "both rows " + first.both;
  return "the first row " + first.one + " and the second row " + second.one;
}

Row_Fault Fault_If(bool holds, const char* one, const char* both) {
  return holds ? Row_Fault{one, both} : Row_Fault{};
}

bool Overflows(double x) { return !std::isfinite(x); }

// A row sum of finite values that overflows stays at +inf or -inf, so two
// rows sum to NaN only when one went each way.
std::string Opposite_Row_Sums(const Pair& p) {
  return "the first row sums to " + Image(p.s_i) + " and the second row sums to " + Image(p.s_j);
}

std::string Quotient_Overflows(const std::string& numerator, double a, const std::string& denominator, double b) {
  return numerator + " sum to " + Image(a) + " and " + denominator + " to " + Image(b) + ", whose quotient overflows";
}

// The first column (from 1) where both values make the term overflow, or 0.
template <class Overflowing>
int Column_Where(const Pair& p, Overflowing overflowing) {
  for (int k = 0; k < p.n; ++k)
    if (overflowing(p.x[k], p.y[k])) return k + 1;
  return 0;
}

// The centred sum of squares of a row is the sum of squares less the
// square of the sum over n; when one of those overflowed it is inf, -inf or
// NaN, which says nothing about the values being equal.
Row_Fault Pearson_Row_Fault(const double* x, int n, double s, double q) {
  double squares = 0.0;
  for (int k = 0; k < n; ++k) squares = squares + x[k] * x[k];
  if (Overflows(s)) return {"sums to " + Image(s), "sum to " + Image(s)};
  if (Overflows(squares)) return {"has a sum of squares of inf", "have a sum of squares of inf"};
  if (Overflows(s * s)) return {"has a sum whose square overflows", "have sums whose squares overflow"};
  return Fault_If(!(q > 0.0), "has all values equal", "have all values equal");
}

std::string Pearson_Cause(const Pair& p) {
  const bool flat_i = !(p.q_i > 0.0), flat_j = !(p.q_j > 0.0);
  if ((flat_i || flat_j) && (!flat_i || std::isfinite(p.q_i)) && (!flat_j || std::isfinite(p.q_j)))
    return Of_The_Rows(Fault_If(flat_i, "has all values equal", "have all values equal"),
                       Fault_If(flat_j, "has all values equal", "have all values equal"));
  return Of_The_Rows(Pearson_Row_Fault(p.x, p.n, p.s_i, p.q_i), Pearson_Row_Fault(p.y, p.n, p.s_j, p.q_j));
}

} // namespace

// What in the data made a pair's distance fail, as far as its formula
// tells; empty when nothing specific is known. Only called on failure.
// Finite values can still overflow on the way: a term (a difference, its
// square, a ratio), a summation, a row statistic, or the quotient of two
// finite sums; and a product of two tiny sums of squares can underflow to
// 0. Each says so rather than blame the values.
namespace Formulas::Real_Causes {

namespace K = Real_Kernels;
using Real_Kernels::Constants;

namespace {
bool Quotient_Fails(double a, double b) { return Overflows(a / b); }

std::string Exclusive(const Pair& p, const Constants& c, const K::Counted_Sum& sum, const char* differences) {
  if (K::Sum_Of_ED(p, c.threshold).m == 0)
    return "no column has both values present (not below " + Image(c.threshold) + ")";
  if (Overflows(sum.sum)) return std::string("the ") + differences + " overflow";
  return {};
}
} // namespace

std::string Bray_Curtis(const Pair& p, const Constants&) {
  const double total = p.s_j + p.s_i;
  if (std::isnan(total)) return Opposite_Row_Sums(p);
  if (!(total > 0.0)) return "the two rows sum to " + Image(total);
  const double differences = K::Manhattan(p);
  if (Overflows(differences))
    return Overflows(total) ? "the absolute differences overflow and the two rows sum to " + Image(total)
                            : "the absolute differences overflow";
  if (Quotient_Fails(differences, total))
    return Quotient_Overflows("the absolute differences", differences, "the two rows", total);
  if (Overflows(total)) return "the two rows sum to " + Image(total);
  return {};
}

std::string Canberra(const Pair& p, const Constants&) {
  if (K::Canberra(p).m == 0) return "every column is 0 in both rows";
  if (const int k = Column_Where(p, [](double a, double b) {
        return Overflows(std::fabs(a - b)) && Overflows(std::fabs(a) + std::fabs(b));
      }))
    return "the absolute difference and the sum of the absolute values overflow in column " + std::to_string(k);
  return {};
}

std::string Clark(const Pair& p, const Constants&) {
  if (K::Clark(p).m == 0) return "the two values sum to 0 in every column";
  if (const int k = Column_Where(p, [](double a, double b) { return a + b != 0.0 && Overflows(a - b); }))
    return "the difference overflows in column " + std::to_string(k);
  return {};
}

std::string Exclusive_Euclidean(const Pair& p, const Constants& c) {
  return Exclusive(p, c, K::Sum_Of_ESD(p, c.threshold), "squared differences");
}

std::string Exclusive_Manhattan(const Pair& p, const Constants& c) {
  return Exclusive(p, c, K::Sum_Of_ED(p, c.threshold), "absolute differences");
}

std::string Gower_D10(const Pair& p, const Constants&) {
  if (K::Sum_Of_D10(p).m == 0) return "the larger value is 0 in every column";
  if (Overflows(K::Sum_Of_D10(p).sum)) return "the ratios of the smaller to the larger value overflow";
  return {};
}

std::string Sums_Of_Squares(const Pair& p, const Constants&) {
  if (p.q_i == 0.0 || p.q_j == 0.0)
    return Of_The_Rows(Fault_If(p.q_i == 0.0, "has a sum of squares of 0", "have a sum of squares of 0"),
                       Fault_If(p.q_j == 0.0, "has a sum of squares of 0", "have a sum of squares of 0"));
  if (Overflows(p.q_i) || Overflows(p.q_j))
    return Of_The_Rows(Fault_If(Overflows(p.q_i), "has a sum of squares of inf", "have a sum of squares of inf"),
                       Fault_If(Overflows(p.q_j), "has a sum of squares of inf", "have a sum of squares of inf"));
  if (p.q_j * p.q_i == 0.0 || Overflows(p.q_j * p.q_i))
    return "the sums of squares " + Image(p.q_i) + " and " + Image(p.q_j) + " multiply to " + Image(p.q_j * p.q_i);
  return {};
}

std::string Pearson(const Pair& p, const Constants&) {
  if (std::string rows = Pearson_Cause(p); !rows.empty()) return rows;
  if (p.q_j * p.q_i == 0.0 || Overflows(p.q_j * p.q_i))
    return "the centred sums of squares " + Image(p.q_i) + " and " + Image(p.q_j) + " multiply to " +
           Image(p.q_j * p.q_i);
  if (Overflows(p.s_j * p.s_i))
    return "the row sums " + Image(p.s_i) + " and " + Image(p.s_j) + " multiply to " + Image(p.s_j * p.s_i);
  return {};
}

std::string Edgar(const Pair& p, const Constants&) {
  const double smaller = Real_Chars::Min(p.s_i, p.s_j);
  if (!(smaller > 0.0)) return "the smaller row sum is " + Image(smaller);
  const double minima = K::Sum_Of_Mins(p);
  if (Overflows(minima)) return "the column minima sum to " + Image(minima);
  if (Quotient_Fails(minima, smaller)) return Quotient_Overflows("the column minima", minima, "the smaller row", smaller);
  return {};
}

std::string Kulczynski(const Pair& p, const Constants&) {
  if (!(p.s_i > 0.0 && p.s_j > 0.0) || Overflows(p.s_i) || Overflows(p.s_j))
    return "the row sums are " + Image(p.s_i) + " and " + Image(p.s_j);
  const double minima = K::Sum_Of_Mins(p);
  if (Overflows(minima)) return "the column minima sum to " + Image(minima);
  if (Quotient_Fails(minima, p.s_i)) return Quotient_Overflows("the column minima", minima, "the first row", p.s_i);
  if (Quotient_Fails(minima, p.s_j)) return Quotient_Overflows("the column minima", minima, "the second row", p.s_j);
  if (const double quotients = minima / p.s_i + minima / p.s_j; Overflows(quotients))
    return "the column minima sum to " + Image(minima) + " and the rows to " + Image(p.s_i) + " and " +
           Image(p.s_j) + ", whose quotients sum to " + Image(quotients);
  return {};
}

std::string Dravik(const Pair& p, const Constants&) {
  const double maxima = K::Dravik_Sum(p);
  if (!(maxima > 0.0)) return "the column maxima sum to " + Image(maxima);
  const double total = p.s_j + p.s_i;
  if (std::isnan(total)) return Opposite_Row_Sums(p);
  if (Overflows(total)) return "the two rows sum to " + Image(total);
  return {};
}

std::string Gower_D9(const Pair& p, const Constants&) {
  const K::Gower_Sums sums = K::Sum_Of_D9(p);
  if (!(sums.maxima > 0.0)) return "the column maxima sum to " + Image(sums.maxima);
  if (Overflows(sums.differences))
    return Overflows(sums.maxima) ? "the absolute differences overflow and the column maxima sum to " + Image(sums.maxima)
                                  : "the absolute differences overflow";
  if (Quotient_Fails(sums.differences, sums.maxima))
    return Quotient_Overflows("the absolute differences", sums.differences, "the column maxima", sums.maxima);
  return {};
}

std::string Euclidean(const Pair& p, const Constants&) {
  if (Overflows(K::Squared_Differences(p))) return "the squared differences overflow";
  return {};
}

std::string Hellinger(const Pair& p, const Constants&) {
  if (Overflows(K::Column_Sum(p, [](double a, double b) {
        const double t = K::Root_Of(a) - K::Root_Of(b);
        return t * t;
      })))
    return "the squared differences of the square roots overflow";
  return {};
}

std::string Manhattan(const Pair& p, const Constants&) {
  if (Overflows(K::Manhattan(p))) return "the absolute differences overflow";
  return {};
}

} // namespace Formulas::Real_Causes

namespace {

// The formula's cause, or else what any formula says of the values.
std::string Cause(Real_Formula f, const Pair& p, const Real_Kernels::Constants& c) {
  if (std::string cause = Formulas::Row_Of(f).Cause.Function(p, c); !cause.empty()) return cause;
  if (double value = 0.0; Find_Non_Finite(p, value)) return "a row holds the value " + Image(value);
  if (Holds_Negative(p)) return "the rows hold negative values";
  return {};
}

[[noreturn]] [[gnu::cold]] void Range_Failure(const Pair& p, const Real_Kernels::Constants& constants, Real_Formula f,
                                             int i, int j, double d) {
  std::string message = std::string("range check failed: the ") + Name(f) + " distance ";
  if (std::isnan(d))
    message += "is not a number";
  else if (std::isinf(d))
    message += "is infinite";
  else
    message += "is negative (" + Image(d) + ")";
  if (const std::string cause = Cause(f, p, constants); !cause.empty()) message += " (" + cause + ")";
  throw Pair_Range_Error(message, i, j);
}

// The statistics of a pair over the columns it shares, from its sums there,
// and its constants with 1 / m for 1 / n. Centred as Prepare centres the
// rows, so that a pair sharing every column gets what the rows give.
template <Real_Formula F>
void Over_Shared(const Pair_Tiles::Masked_Sums& t, double m, Pair& p, Real_Kernels::Constants& c) {
  constexpr Formulas::Stats needs = Formulas::Row_Of(F).Needs;
  c.inv_n = 1.0 / m;
  if constexpr (needs.Has(Stat::ROW_SUMS)) {
    p.s_i = t.Sx;
    p.s_j = t.Sy;
  }
  if constexpr (needs.Has(Stat::CENTRED_SQUARES)) {
    p.q_i = t.Qx - (t.Sx * t.Sx) * c.inv_n;
    p.q_j = t.Qy - (t.Sy * t.Sy) * c.inv_n;
  } else if constexpr (needs.Has(Stat::SUMS_OF_SQUARES)) {
    p.q_i = t.Qx;
    p.q_j = t.Qy;
  }
}

// Under pairwise deletion, the two rows of a pair cut down to the columns
// both hold, as the rows they read (the roots for HELLINGER) and as values,
// with the sums over those columns the tiles give: each sum a plain loop
// over the shared columns, starting from -0.0 as the tiles do.
struct Shared_Columns {
  std::vector<double> x, y, x_values, y_values;
  Pair_Tiles::Masked_Sums sums{};
  Shared_Columns(const Call& call, int i, int j) {
    const Pair rows = call.Pair_Of(i, j), values = call.Values_Of(i, j);
    sums = {0.0, 0.0, -0.0, -0.0, -0.0, -0.0};
    for (int k = 0; k < call.n; ++k) {
      if (std::isnan(values.x[k]) || std::isnan(values.y[k])) continue;
      x.push_back(rows.x[k]);
      y.push_back(rows.y[k]);
      x_values.push_back(values.x[k]);
      y_values.push_back(values.y[k]);
      sums.Sx = sums.Sx + values.x[k];
      sums.Sy = sums.Sy + values.y[k];
      sums.Qx = sums.Qx + values.x[k] * values.x[k];
      sums.Qy = sums.Qy + values.y[k] * values.y[k];
    }
  }
  Pair Of(const std::vector<double>& a, const std::vector<double>& b) const {
    return {a.data(), b.data(), static_cast<int>(a.size()), 0.0, 0.0, 0.0, 0.0};
  }
};

// Evaluate under pairwise deletion: the formula over the shared columns, as
// over complete rows of that length.
template <Real_Formula F>
double Evaluate_Shared(const Call& call, int i, int j) {
  constexpr double largest = std::numeric_limits<double>::max();
  const Shared_Columns shared(call, i, j);
  if (shared.x.empty())
    throw Pair_Range_Error(std::string("range check failed: the ") + Name(F) +
                               " distance is not a number (no character is present in both rows)",
                           i, j);
  Pair rows = shared.Of(shared.x, shared.y), values = shared.Of(shared.x_values, shared.y_values);
  Real_Kernels::Constants constants = call.constants;
  const double m = static_cast<double>(shared.x.size());
  Over_Shared<F>(shared.sums, m, rows, constants);
  Over_Shared<F>(shared.sums, m, values, constants);
  try {
    double d = Real_Kernels::Distance<F>(rows, constants);
    if constexpr (Formulas::Row_Of(F).Needs.Has(Stat::ROOTS))
      if (!(d <= largest)) d = Real_Chars::Sqrt(Real_Kernels::Hellinger_Of_Values(values));
    if (!(d >= 0.0 && d <= largest)) Range_Failure(values, constants, F, i, j, d);
    return d == 0.0 ? 0.0 : d;
  } catch (const Errors::Argument_Error& e) {
    throw Pair_Argument_Error(std::string(e.what()) + " in " + Name(F), i, j);
  }
}

// One pair as a single thread computes it, with every check and error: the
// reference the tiled computation matches bit for bit, and what reports a
// failing pair.
template <Real_Formula F>
double Evaluate(const Call& call, int i, int j) {
  constexpr double largest = std::numeric_limits<double>::max();
  if (call.pairwise) return Evaluate_Shared<F>(call, i, j);
  try {
    double d = Real_Kernels::Distance<F>(call.Pair_Of(i, j), call.constants);
    if constexpr (Formulas::Row_Of(F).Needs.Has(Stat::ROOTS))
      if (std::isnan(d)) d = Real_Chars::Sqrt(Real_Kernels::Hellinger_Of_Values(call.Values_Of(i, j)));
    if (!(d >= 0.0 && d <= largest)) Range_Failure(call.Values_Of(i, j), call.constants, F, i, j, d);
    return d == 0.0 ? 0.0 : d; // no -0.0 in the matrix
  } catch (const Errors::Argument_Error& e) {
    throw Pair_Argument_Error(std::string(e.what()) + " in " + Name(F), i, j);
  }
}

// The tiles of a formula over complete rows, or over the columns each pair
// shares: the kernel that sums them and the finish of one pair from its
// sums. A pair that shares no column is not a number, which fails the
// range check.
template <Real_Formula F, bool Masked>
struct Tiles_Of {
  using Sums = std::conditional_t<Masked, Pair_Tiles::Masked_Sums, Pair_Tiles::Sums>;
  static constexpr Pair_Tiles::Term term = Real_Kernels::Term_Of(F);

  static void Sum(const Call& call, Pair_Tiles::Path path, int i0, int i1, int j0, int count, Sums* out,
                  double* panel) {
    const std::size_t p = static_cast<std::size_t>(call.n);
    if constexpr (Masked)
      Pair_Tiles::Masked_Tile_Sums(path, term, call.stats, call.block, p, call.constants.threshold, i0, i1, j0,
                                   count, out, panel);
    else
      Pair_Tiles::Tile_Sums(path, term, call.block, p, call.constants.threshold, i0, i1, j0, count, out, panel);
  }

  template <class Root, class Arc_Cosine>
  static double Distance(const Sums& t, const Call& call, int i, int j, Root&& sqrt, Arc_Cosine&& arccos) {
    Pair p = call.Pair_Of(i, j);
    if constexpr (Masked) {
      const int m = call.Shared(i, j);
      if (m == 0) return std::numeric_limits<double>::quiet_NaN();
      Real_Kernels::Constants c = call.constants;
      Over_Shared<F>(t, m, p, c);
      return Real_Kernels::Finish<F>(Pair_Tiles::Sums{t.Sum, t.Second}, p, c, sqrt, arccos);
    } else {
      return Real_Kernels::Finish<F>(t, p, call.constants, sqrt, arccos);
    }
  }
};

// The pairs are computed in tiles: a block of consecutive rows j (as many
// as the vector path takes) against every row i before them, their column
// sums advancing together in SIMD lanes. Threads take the blocks, largest
// first. A worker's scratch (a panel of j rows, the sums of a chunk of i
// rows) does not grow with the number of characters: the kernel packs the
// panel a column block at a time. A pair that fails any check is only noted; the first of them in
// single-threaded order is then evaluated again by the reference, which
// raises its error.
template <Real_Formula F, bool Masked>
void Fill(const Call& call, Generic::Square_Block& result, Undefined_Pairs* undefined) {
  using Tiles = Tiles_Of<F, Masked>;
  constexpr double largest = std::numeric_limits<double>::max();
  constexpr int Chunk = 128; // rows i per call of the kernel
  const Pair_Tiles::Path path = Generic::Simd::Current();
  const int width = Pair_Tiles::Block_Width(path);
  const int taxa = call.last - call.first + 1;
  const int blocks = (taxa + width - 1) / width;
  const std::size_t p = static_cast<std::size_t>(call.n);
  const int threads = std::max(1, std::min(Generic::Parallel::Threads(), blocks / 2));

  std::atomic<int> next_block{blocks - 1};
  Generic::Progress::Stage progress("distances", static_cast<std::uint64_t>(taxa), Generic::Progress::Unit::PAIR_ROWS);
  std::vector<Detail::First_Failure> failures(static_cast<std::size_t>(threads));
  std::vector<long long> counts(static_cast<std::size_t>(threads), 0);
  Generic::Parallel::Run(threads, [&](int worker) {
    Detail::First_Failure& failure = failures[static_cast<std::size_t>(worker)];
    Tile_Worker<typename Tiles::Sums>(worker, path, p, Chunk, width, [&](auto& panel, auto& sums, Quiet_Domain& domain,
                                                                         auto quiet_sqrt, auto quiet_arccos) {
      for (int block; (block = next_block.fetch_sub(1, std::memory_order_relaxed)) >= 0;) {
        const int j0 = block * width;
        const int count = std::min(width, taxa - j0);
        const int i_end = j0 + count - 1; // rows i < the last j of the block
        for (int i0 = 0; i0 < i_end; i0 += Chunk) {
          const int i1 = std::min(i_end, i0 + Chunk);
          Tiles::Sum(call, path, i0, i1, j0, count, sums.data(), panel.data());
          for (int i = i0; i < i1; ++i) {
            const typename Tiles::Sums* row_sums = &sums[static_cast<std::size_t>(i - i0) * static_cast<std::size_t>(count)];
            for (int l = std::max(0, i + 1 - j0); l < count; ++l) {
              const int ti = call.first + i, tj = call.first + j0 + l;
              domain.error = false;
              double d = Tiles::Distance(row_sums[l], call, ti, tj, quiet_sqrt, quiet_arccos);
              if (domain.error || !(d >= 0.0 && d <= largest)) {
                failure.Offer(ti, tj, d);
                d = undefined ? std::numeric_limits<double>::quiet_NaN() : 0.0;
                counts[static_cast<std::size_t>(worker)] += undefined != nullptr;
              }
              if (d == 0.0) d = 0.0; // no -0.0 in the matrix
              result(ti, tj) = d;
              result(tj, ti) = d;
            }
          }
        }
        progress.Advance(static_cast<std::uint64_t>(count));
      }
    });
  });
  Detail::First_Failure first;
  for (const Detail::First_Failure& f : failures) first.Offer(f);
  if (first.Found()) {
    if (undefined) {
      long long count = 0;
      for (long long c : counts) count += c;
      bool raised = true;
      Detail::Note_Undefined(*undefined, count, first.I, first.J, [&] {
        Evaluate<F>(call, first.I, first.J);
        raised = false;
      });
      if (raised) {
        for (int t = call.first; t <= call.last; ++t) result(t, t) = 0.0;
        return;
      }
    } else {
      Evaluate<F>(call, first.I, first.J);
    }
    throw Errors::Constraint_Error(std::string("internal error: the tiled ") + Name(F) +
                                   " distance failed where the reference did not");
  }
  for (int t = call.first; t <= call.last; ++t) result(t, t) = 0.0;
}

} // namespace

namespace {

// What every pair of the matrix reads, after the checks that need no pair.
Call Prepare(const Real_Matrix& matrix, Real_Formula formula, double threshold, Missing_Rule missing) {
  const double sqrt2 = Real_Chars::Sqrt(2.0);
  Real_Chars::Basic::Require_Aligned(matrix, (std::string(Name(formula)) + " distances").c_str());
  const int n = matrix.Row_Length(0);

  Call call{.values = matrix.Data(),
            .block = matrix.Data(),
            .n = n,
            .first = 0,
            .last = matrix.Rows() - 1,
            .s = {},
            .q = {},
            .roots = {},
            .constants = {.inv_n = 1.0 / n, .sqrt2 = sqrt2, .threshold = threshold}};

  // Without characters there is nothing to compare, and nothing to sum for
  // the per-row quantities (EUCLIDEAN counts as one that has them).
  const Formulas::Stats needs = Formulas::Row_Of(formula).Needs;
  if (n == 0 && (matrix.Rows() > 1 || needs.Sums_Rows() || formula == EUCLIDEAN))
    throw Errors::Constraint_Error(std::string("index check failed: the rows have no characters, so the ") +
                                   Name(formula) + " distance has nothing to sum");

  const auto rows = static_cast<std::size_t>(matrix.Rows());
  call.s.assign(rows, 0.0);
  call.q.assign(rows, 0.0);
  // Without a missing value every pair shares every column: the complete
  // computation is pairwise deletion there, and keeps its bits and speed.
  if (missing == Missing_Rule::PAIRWISE) {
    const double* v = matrix.Data();
    call.pairwise = std::any_of(v, v + rows * static_cast<std::size_t>(n), [](double x) { return std::isnan(x); });
  }
  if (call.pairwise) {
    call.words = (static_cast<std::size_t>(n) + 63) / 64;
    call.present.assign(rows * call.words, 0);
    for (std::size_t t = 0; t < rows; ++t)
      for (std::size_t k = 0; k < static_cast<std::size_t>(n); ++k)
        if (!std::isnan(call.values[t * static_cast<std::size_t>(n) + k]))
          call.present[t * call.words + k / 64] |= std::uint64_t{1} << (k % 64);
    call.stats = needs.Has(Stat::SUMS_OF_SQUARES | Stat::CENTRED_SQUARES) ? Pair_Tiles::Pair_Stats::SQUARES
                 : needs.Has(Stat::ROW_SUMS)                               ? Pair_Tiles::Pair_Stats::SUMS
                                                                           : Pair_Tiles::Pair_Stats::NONE;
  } else if (needs.Has(Stat::ROW_SUMS)) call.s = Real_Chars::Functions::Sum(matrix);
  if (!call.pairwise && needs.Has(Stat::SUMS_OF_SQUARES | Stat::CENTRED_SQUARES))
    call.q = Real_Chars::Functions::Row_Sums(matrix, [](double a) { return a * a; });
  if (!call.pairwise && needs.Has(Stat::CENTRED_SQUARES)) {
    for (std::size_t t = 0; t < rows; ++t)
      call.q[t] = call.q[t] - (call.s[t] * call.s[t]) * call.constants.inv_n;
  }

  if (needs.Has(Stat::ROOTS)) {
    const std::size_t count = rows * static_cast<std::size_t>(n);
    call.roots.resize(count);
    // Under pairwise deletion a NaN root must mean a missing value: a
    // negative one gets -inf instead, which fails its pairs just the same.
    if (call.pairwise)
      for (std::size_t k = 0; k < count; ++k)
        call.roots[k] = call.values[k] < 0.0 ? -std::numeric_limits<double>::infinity()
                                              : Real_Kernels::Root_Of(call.values[k]);
    else
      for (std::size_t k = 0; k < count; ++k) call.roots[k] = Real_Kernels::Root_Of(call.values[k]);
    call.block = call.roots.data();
  }
  return call;
}

} // namespace

Generic::Square_Block Distances(const Real_Matrix& matrix, Real_Formula formula, double threshold,
                                Undefined_Pairs* undefined, Missing_Rule missing) {
  const Call call = Prepare(matrix, formula, threshold, missing);
  Generic::Square_Block result(call.first, call.last);
  With_Formula(formula, [&](auto f) {
    if (call.pairwise)
      Fill<decltype(f)::value, true>(call, result, undefined);
    else
      Fill<decltype(f)::value, false>(call, result, undefined);
  });
  return result;
}

} // namespace Karvel::Phylo::Distfunc

namespace Karvel::Phylo::Distfunc {

namespace {

// The rows of a block come from the same tiles as Fill's: a tile holds the
// sums of pairs (i, j), i < j, row i against a panel of rows j. The pairs
// whose later taxon lies in the block are tiles of panels within the block
// against every row before; those whose earlier taxon lies in it, panels of
// the rows after the block against the block's rows. Every pair thus gets
// the sums and the finish Fill gives it.
template <Real_Formula F>
class Real_Rows final : public Row_Distances {
public:
  explicit Real_Rows(Call call) : call_(std::move(call)) {}
  int Taxa() const override { return call_.last + 1; }
  [[noreturn]] void Raise(int i, int j) const override {
    Evaluate<F>(call_, i, j);
    throw Errors::Constraint_Error(std::string("internal error: the tiled ") + Name(F) +
                                   " distance failed where the reference did not");
  }

  Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined) const override {
    return call_.pairwise ? Compute_With<true>(first, past, part, order, rows, undefined)
                          : Compute_With<false>(first, past, part, order, rows, undefined);
  }

private:
  template <bool Masked>
  Failed_Pair Compute_With(int first, int past, Row_Part part, Pair_Order order, double* rows,
                           Undefined_Pairs* undefined) const {
    using Tiles = Tiles_Of<F, Masked>;
    constexpr double largest = std::numeric_limits<double>::max();
    constexpr int Chunk = 128; // rows i per call of the kernel, as in Fill
    const Call& call = call_;
    const Pair_Tiles::Path path = Generic::Simd::Current();
    const int width = Pair_Tiles::Block_Width(path);
    const int taxa = Taxa();
    const std::size_t p = static_cast<std::size_t>(call.n);
    const std::size_t row_length = static_cast<std::size_t>(taxa);
    const bool in_row_i = part != Row_Part::BEFORE, in_row_j = part != Row_Part::AFTER;

    const std::vector<Detail::Row_Tile> tiles = Detail::Row_Tiles(taxa, first, past, part, width, Chunk);

    const int threads = std::max(1, std::min<int>(Generic::Parallel::Threads(), static_cast<int>(tiles.size())));
    std::atomic<std::size_t> next{0};
    std::vector<Detail::Noted_Failures> failures(static_cast<std::size_t>(threads),
                                                 Detail::Noted_Failures(part, order));
    Generic::Parallel::Run(threads, [&](int worker) {
      Detail::Noted_Failures& failure = failures[static_cast<std::size_t>(worker)];
      Tile_Worker<typename Tiles::Sums>(worker, path, p, Chunk, width, [&](auto& panel, auto& sums,
                                                                           Quiet_Domain& domain, auto quiet_sqrt,
                                                                           auto quiet_arccos) {
        for (std::size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < tiles.size();) {
          const Detail::Row_Tile& t = tiles[k];
          Tiles::Sum(call, path, t.i0, t.i1, t.j0, t.count, sums.data(), panel.data());
          for (int i = t.i0; i < t.i1; ++i) {
            const typename Tiles::Sums* row_sums = &sums[static_cast<std::size_t>(i - t.i0) * static_cast<std::size_t>(t.count)];
            for (int l = std::max(0, i + 1 - t.j0); l < t.count; ++l) {
              const int j = t.j0 + l;
              domain.error = false;
              double d = Tiles::Distance(row_sums[l], call, i, j, quiet_sqrt, quiet_arccos);
              if (domain.error || !(d >= 0.0 && d <= largest)) {
                if (!undefined) {
                  failure.Note(i, j);
                  continue;
                }
                d = std::numeric_limits<double>::quiet_NaN();
                // Each pair is computed once here: counted in the row that owns it.
                const int own = part == Row_Part::BEFORE ? j : i;
                if (own >= first && own < past) failure.Note_Undefined(i, j);
              }
              if (d == 0.0) d = 0.0; // no -0.0, as in Fill
              if (in_row_i && i >= first && i < past) rows[static_cast<std::size_t>(i - first) * row_length + static_cast<std::size_t>(j)] = d;
              if (in_row_j && j < past) rows[static_cast<std::size_t>(j - first) * row_length + static_cast<std::size_t>(i)] = d;
            }
          }
        }
      });
    });
    for (int r = first; r < past; ++r) rows[static_cast<std::size_t>(r - first) * row_length + static_cast<std::size_t>(r)] = 0.0;
    Detail::Noted_Failures first_failure(part, order);
    for (const Detail::Noted_Failures& f : failures) first_failure.Note(f);
    if (undefined) first_failure.Add_To(*undefined, [&](int i, int j) { Raise(i, j); });
    return first_failure.First();
  }

  Call call_;
};

} // namespace

std::unique_ptr<Row_Distances> Row_Distances_Of(const Real_Matrix& matrix, Real_Formula formula, double threshold,
                                                Missing_Rule missing) {
  Call call = Prepare(matrix, formula, threshold, missing);
  std::unique_ptr<Row_Distances> rows;
  With_Formula(formula, [&](auto f) { rows = std::make_unique<Real_Rows<decltype(f)::value>>(std::move(call)); });
  return rows;
}

} // namespace Karvel::Phylo::Distfunc

// Spearman distances under pairwise deletion. R ranks each pair's shared
// values afresh (cor(method = "spearman", use = "pairwise.complete.obs")):
// ranks taken once per row over all its present values would rank a value
// against others the other row lacks, and give another coefficient. So every
// pair is cut to the columns both rows hold, both parts ranked, and the two
// rankings correlated as complete rows of that length, by the finish of the
// PEARSON row.
namespace Karvel::Phylo::Distfunc {

namespace {

constexpr Real_Formula Pearson = Real_Formula::PEARSON;

// One pair's ranks over the columns both rows hold, with the row statistics
// of the PEARSON row over them, computed as for complete rows.
struct Ranked_Pair {
  std::vector<double> x, y;
  Real_Kernels::Pair pair{};
  Real_Kernels::Constants constants{};

  Ranked_Pair(const Real_Matrix& matrix, int i, int j, Real_Chars::Transformation ranking) {
    const std::span<const double> a = matrix.Row(i), b = matrix.Row(j);
    for (std::size_t k = 0; k < a.size(); ++k)
      if (!std::isnan(a[k]) && !std::isnan(b[k])) {
        x.push_back(a[k]);
        y.push_back(b[k]);
      }
    if (x.empty()) return;
    Real_Chars::Rank_Row(x, ranking);
    Real_Chars::Rank_Row(y, ranking);
    const double m = static_cast<double>(x.size());
    constants = {.inv_n = 1.0 / m, .sqrt2 = Real_Chars::Sqrt(2.0), .threshold = 0.0};
    double s_x = 0.0, s_y = 0.0, q_x = 0.0, q_y = 0.0;
    for (std::size_t k = 0; k < x.size(); ++k) {
      s_x = s_x + x[k];
      s_y = s_y + y[k];
      q_x = q_x + x[k] * x[k];
      q_y = q_y + y[k] * y[k];
    }
    q_x = q_x - (s_x * s_x) * constants.inv_n;
    q_y = q_y - (s_y * s_y) * constants.inv_n;
    pair = {x.data(), y.data(), static_cast<int>(x.size()), s_x, s_y, q_x, q_y};
  }
};

bool In_Range(double d) { return d >= 0.0 && d <= std::numeric_limits<double>::max(); }

// The distance of pair (i, j), i < j; a failing one raises its error.
double Raise_Or_Distance(const Real_Matrix& matrix, int i, int j, Real_Chars::Transformation ranking) {
  const Ranked_Pair p(matrix, i, j, ranking);
  const std::string failed = std::string("range check failed: the ") + Name(Pearson) + " distance ";
  if (p.x.empty()) throw Pair_Range_Error(failed + "is not a number (no character is present in both rows)", i, j);
  double d;
  try {
    d = Real_Kernels::Distance<Pearson>(p.pair, p.constants);
  } catch (const Errors::Argument_Error& e) {
    throw Pair_Argument_Error(e.what(), i, j);
  }
  if (In_Range(d)) return d;
  std::string message = failed + (std::isnan(d)   ? "is not a number"
                                  : std::isinf(d) ? "is infinite"
                                                  : "is negative (" + Generic::Image(d) + ")");
  if (const std::string cause = Formulas::Row_Of(Pearson).Cause.Function(p.pair, p.constants); !cause.empty())
    message += " (" + cause + ") over the " + std::to_string(p.x.size()) + " characters both rows hold";
  throw Pair_Range_Error(message, i, j);
}

// The distance of pair (i, j), i < j, or NaN where it fails.
double Quiet_Distance(const Real_Matrix& matrix, int i, int j, Real_Chars::Transformation ranking) {
  const Ranked_Pair p(matrix, i, j, ranking);
  constexpr double undefined = std::numeric_limits<double>::quiet_NaN();
  if (p.x.empty()) return undefined;
  try {
    const double d = Real_Kernels::Distance<Pearson>(p.pair, p.constants);
    return In_Range(d) ? d : undefined;
  } catch (const Errors::Argument_Error&) {
    return undefined;
  }
}

void Require_Rankable(const Real_Matrix& matrix) {
  Real_Chars::Basic::Require_Aligned(matrix, (std::string(Name(Pearson)) + " distances").c_str());
}

class Ranked_Rows final : public Row_Distances {
public:
  Ranked_Rows(const Real_Matrix& matrix, Real_Chars::Transformation ranking) : matrix_(matrix), ranking_(ranking) {
    Require_Rankable(matrix);
  }
  int Taxa() const override { return matrix_.Rows(); }
  [[noreturn]] void Raise(int i, int j) const override {
    Raise_Or_Distance(matrix_, i, j, ranking_);
    throw Errors::Constraint_Error("internal error: a ranked pair failed once and not again");
  }
  Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined) const override {
    return Detail::Fill_Rows(
        Taxa(), first, past, part, order, rows, undefined,
        [&](int i, int j) { return Quiet_Distance(matrix_, i, j, ranking_); },
        [&](int i, int j) { Raise(i, j); });
  }

private:
  const Real_Matrix& matrix_;
  Real_Chars::Transformation ranking_;
};

} // namespace

Generic::Square_Block Pairwise_Ranked_Distances(const Real_Matrix& matrix, Real_Chars::Transformation ranking,
                                                Undefined_Pairs* undefined) {
  Require_Rankable(matrix);
  return Detail::Fill_Pairs(
      0, matrix.Rows() - 1, [&](int i, int j) { return Quiet_Distance(matrix, i, j, ranking); },
      [&](int i, int j, double) {
        Raise_Or_Distance(matrix, i, j, ranking);
        throw Errors::Constraint_Error("internal error: a ranked pair failed once and not again");
      },
      undefined);
}

std::unique_ptr<Row_Distances> Pairwise_Ranked_Row_Distances_Of(const Real_Matrix& matrix,
                                                                Real_Chars::Transformation ranking) {
  return std::make_unique<Ranked_Rows>(matrix, ranking);
}

} // namespace Karvel::Phylo::Distfunc
