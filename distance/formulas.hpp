#pragma once
// The distance formulae of each datatype, one row per formula: the option
// letter that selects it, its label in the usage text, the name it has in
// messages and in the library, its finish (for the real formulae the column
// term the pair kernels sum and the row statistics the finish reads) and
// what it says of a pair whose value failed. The option parser, the usage
// text, the messages, the library and the dispatch to each formula's pair
// loop all read these tables, so a formula is known everywhere as soon as
// it has its row.

#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "distance/distfunc.hpp"
#include "distance/kernels/pair_tiles.hpp"
#include "transform/real_chars.hpp"

namespace Karvel::Phylo::Kernels {
struct Frequency_Table;
}
namespace Karvel::Phylo::Distfunc::Real_Kernels {
struct Pair;
struct Constants;
} // namespace Karvel::Phylo::Distfunc::Real_Kernels

namespace Karvel::Phylo::Distfunc::Formulas {

// A function a row names: its finish or its cause of failure. It has no
// default and takes no null pointer, so a row that leaves one out does not
// compile. Where a formula is known at compile time (in its instantiation
// of the pair loop), Function is a constant and the call is direct.
template <class Signature>
struct Named;
template <class Result, class... Args>
struct Named<Result(Args...)> {
  constexpr Named(Result (*function)(Args...)) : Function(function) {} // NOLINT: rows name plain functions
  Named(std::nullptr_t) = delete;
  Result (*Function)(Args...);
};

// A binary finish reads the pair's table (a: present in both taxa, b: in
// the first only, c: in the second only, d: absent from both) in double:
// the counts are exact there, and so are all their integer sums.
using Binary_Finish = Named<double(double a, double b, double c, double d)>;
// What made a pair's value fail, from its counts; empty when the formula
// has nothing specific to say, and the counts themselves are reported.
using Binary_Cause = Named<std::string(const Kernels::Frequency_Table&)>;

// One formula of the binary or discrete family. Default marks the formula
// used when no letter chooses one (a star in the usage text).
template <class Formula, class Finish_Of, class Cause_Of>
struct Row {
  char Letter;
  const char* Label;
  const char* Name;
  Formula Value;
  Finish_Of Finish;
  Cause_Of Cause;
  bool Default = false;
};
using Binary_Row = Row<Binary_Formula, Binary_Finish, Binary_Cause>;

// The finishes of the binary formulae. Each keeps the operation order of
// its published definition (sums left to right, products of several
// factors left to right), so results are identical from run to run and
// machine to machine.
namespace Binary_Finishes {
inline double N(double a, double b, double c, double d) { return ((a + b) + c) + d; }
inline double Hamann(double a, double b, double c, double d) { return 0.5 - ((((a + d) - b) - c) * 0.5) / N(a, b, c, d); }
inline double Matching(double a, double b, double c, double d) { return (b + c) / N(a, b, c, d); }
inline double Rogers_Tanimoto(double a, double b, double c, double d) { return (b + c) / ((a + d) * 0.5 + (b + c)); }
inline double Sokal_Sneath_1(double a, double b, double c, double d) { return (b + c) / ((((a + d) + (a + d)) + b) + c); }
inline double Sokal_Sneath_2(double a, double b, double c, double d) { return (b + c) / (a + d); }
inline double Sokal_Sneath_3(double a, double b, double c, double d) {
  return 1.0 - (((a / (a + b) + a / (a + c)) + d / (b + d)) + d / (c + d)) * 0.25;
}
inline double Sokal_Sneath_4(double a, double b, double c, double d) {
  return 1.0 - (a * d) / std::sqrt(((a + b) * (a + c)) * (b + d) * (c + d));
}
inline double Yule(double a, double b, double c, double d) { return (b * c) / (a * d + b * c); }
inline double Phi(double a, double b, double c, double d) {
  return 0.5 - ((a * d - b * c) * 0.5) / std::sqrt(((a + b) * (c + d)) * (a + c) * (b + d));
}
inline double Jaccard(double a, double b, double c, double) { return (b + c) / ((a + b) + c); }
inline double Soerensen(double a, double b, double c, double) { return (b + c) / (((a + a) + b) + c); }
inline double Triple_Weight(double a, double b, double c, double) { return (b + c) / ((a * 3.0 + b) + c); }
inline double Rogers_Tanimoto_Asymmetric(double a, double b, double c, double) { return (b + c) / ((a * 0.5 + b) + c); }
inline double Russell_Rao(double a, double b, double c, double d) { return 1.0 - a / N(a, b, c, d); }
inline double Kulczynski(double a, double b, double c, double) { return 1.0 - a / (b + c); }
inline double Kulczynski_2(double a, double b, double c, double) { return 1.0 - (a / (a + b) + a / (a + c)) * 0.5; }
inline double Ochiai(double a, double b, double c, double) { return 1.0 - a / std::sqrt((a + b) * (a + c)); }
inline double Faith(double a, double b, double c, double d) { return 1.0 - (d * 0.5 + a) / N(a, b, c, d); }
inline double Fager(double a, double b, double c, double) {
  return (1.0 - a / std::sqrt((a + b) * (a + c))) + 0.5 / std::sqrt(Real_Chars::Max(b, c) + a);
}
} // namespace Binary_Finishes

// The causes the binary rows name, in distfunc_binary.cpp. A pair none of
// whose characters is known in both is said so whatever the formula.
namespace Binary_Causes {
std::string None(const Kernels::Frequency_Table& t);
std::string No_Presence(const Kernels::Frequency_Table& t);     // a + b + c = 0
std::string Differ_Everywhere(const Kernels::Frequency_Table& t); // a + d = 0
std::string Kulczynski(const Kernels::Frequency_Table& t);
std::string Empty_Marginal(const Kernels::Frequency_Table& t);  // the first of a + b, a + c, b + d, c + d
std::string Yule(const Kernels::Frequency_Table& t);
} // namespace Binary_Causes

// To add a binary formula: its enumerator in distfunc.hpp (at the end), a
// row here at the same position with its finish above, and its cause: one
// of Binary_Causes, or a new one declared there and written in
// distfunc_binary.cpp. Rows are in the order of the enumeration, which is
// also the order in which the library lists the names.
inline constexpr std::array<Binary_Row, 19> Binary{{
    {'h', "Hamann", "HAMANN", Binary_Formula::HAMANN, Binary_Finishes::Hamann, Binary_Causes::None},
    {'m', "Matching", "MATCHING", Binary_Formula::MATCHING, Binary_Finishes::Matching, Binary_Causes::None},
    {'r', "Rogers-Tanimoto", "ROGERS_TANIMOTO", Binary_Formula::ROGERS_TANIMOTO, Binary_Finishes::Rogers_Tanimoto,
     Binary_Causes::None},
    {'b', "Sokal-Sneath 1", "SOKAL_SNEATH_1", Binary_Formula::SOKAL_SNEATH_1, Binary_Finishes::Sokal_Sneath_1,
     Binary_Causes::None},
    {'c', "Sokal-Sneath 2", "SOKAL_SNEATH_2", Binary_Formula::SOKAL_SNEATH_2, Binary_Finishes::Sokal_Sneath_2,
     Binary_Causes::Differ_Everywhere},
    {'d', "Sokal-Sneath 3", "SOKAL_SNEATH_3", Binary_Formula::SOKAL_SNEATH_3, Binary_Finishes::Sokal_Sneath_3,
     Binary_Causes::Empty_Marginal},
    {'e', "Sokal-Sneath 4", "SOKAL_SNEATH_4", Binary_Formula::SOKAL_SNEATH_4, Binary_Finishes::Sokal_Sneath_4,
     Binary_Causes::Empty_Marginal},
    {'n', "Yule", "YULE", Binary_Formula::YULE, Binary_Finishes::Yule, Binary_Causes::Yule},
    {'p', "Phi", "PHI", Binary_Formula::PHI, Binary_Finishes::Phi, Binary_Causes::Empty_Marginal},
    {'i', "Jaccard", "JACCARD", Binary_Formula::JACCARD, Binary_Finishes::Jaccard, Binary_Causes::No_Presence},
    {'s', "Soerensen", "SOERENSEN", Binary_Formula::SOERENSEN, Binary_Finishes::Soerensen, Binary_Causes::No_Presence,
     true},
    {'t', "Triple weight", "TRIPLE_WEIGHT", Binary_Formula::TRIPLE_WEIGHT, Binary_Finishes::Triple_Weight,
     Binary_Causes::No_Presence},
    {'a', "Rogers-Tanimoto, asymmetric", "ROGERS_TANIMOTO_ASYMMETRIC", Binary_Formula::ROGERS_TANIMOTO_ASYMMETRIC,
     Binary_Finishes::Rogers_Tanimoto_Asymmetric, Binary_Causes::No_Presence},
    {'u', "Russell-Rao", "RUSSELL_RAO", Binary_Formula::RUSSELL_RAO, Binary_Finishes::Russell_Rao, Binary_Causes::None},
    {'k', "Kulczynski", "KULCZYNSKI", Binary_Formula::KULCZYNSKI, Binary_Finishes::Kulczynski,
     Binary_Causes::Kulczynski},
    {'q', "Kulczynski 2", "KULCZYNSKI_2", Binary_Formula::KULCZYNSKI_2, Binary_Finishes::Kulczynski_2,
     Binary_Causes::Empty_Marginal},
    {'o', "Ochiai", "OCHIAI", Binary_Formula::OCHIAI, Binary_Finishes::Ochiai, Binary_Causes::Empty_Marginal},
    {'f', "Faith", "FAITH", Binary_Formula::FAITH, Binary_Finishes::Faith, Binary_Causes::None},
    {'g', "Fager", "FAGER", Binary_Formula::FAGER, Binary_Finishes::Fager, Binary_Causes::Empty_Marginal},
}};

// A pair of discrete rows is k differing characters out of n (and 1 / n).
using Discrete_Finish = Named<double(double k, double n, double inv_n)>;
// What made a pair's value fail, from k and n; empty when the formula has
// nothing specific to say, and k and n themselves are reported.
using Discrete_Cause = Named<std::string(std::size_t k, std::size_t n)>;

using Discrete_Row = Row<Discrete_Formula, Discrete_Finish, Discrete_Cause>;

// The operation order of each form is fixed so that results are identical
// from run to run and machine to machine; MATCHING multiplies by the
// reciprocal and may therefore end one unit in the last place below k / n.
namespace Discrete_Finishes {
inline double Hamann(double k, double n, double) { return 0.5 - ((n - 2.0 * k) * 0.5) / n; }
inline double Matching(double k, double, double inv_n) { return k * inv_n; }
inline double Rogers_Tanimoto(double k, double n, double) { return (k + k) / (n + k); }
inline double Sokal_Sneath_1(double k, double n, double) { return k / ((n + n) - k); }
inline double Sokal_Sneath_2(double k, double n, double) { return k / (n - k); }
} // namespace Discrete_Finishes

// In distfunc_discrete.cpp.
namespace Discrete_Causes {
std::string None(std::size_t k, std::size_t n);
std::string Differ_Everywhere(std::size_t k, std::size_t n); // k = n
} // namespace Discrete_Causes

// To add a discrete formula: its enumerator in distfunc.hpp (at the end), a
// row here at the same position with its finish above, and its cause (as
// for a binary formula, in distfunc_discrete.cpp). The letter is shared
// with a binary formula, or a new one.
inline constexpr std::array<Discrete_Row, 5> Discrete{{
    {'h', "Hamann", "HAMANN", Discrete_Formula::HAMANN, Discrete_Finishes::Hamann, Discrete_Causes::None},
    {'m', "Matching", "MATCHING", Discrete_Formula::MATCHING, Discrete_Finishes::Matching, Discrete_Causes::None,
     true},
    {'r', "Rogers-Tanimoto", "ROGERS_TANIMOTO", Discrete_Formula::ROGERS_TANIMOTO, Discrete_Finishes::Rogers_Tanimoto,
     Discrete_Causes::None},
    {'b', "Sokal-Sneath 1", "SOKAL_SNEATH_1", Discrete_Formula::SOKAL_SNEATH_1, Discrete_Finishes::Sokal_Sneath_1,
     Discrete_Causes::None},
    {'c', "Sokal-Sneath 2", "SOKAL_SNEATH_2", Discrete_Formula::SOKAL_SNEATH_2, Discrete_Finishes::Sokal_Sneath_2,
     Discrete_Causes::Differ_Everywhere},
}};

// The per-row statistics a real formula's finish reads besides the pair's
// sums, computed once per row before the pairs. The finish can read only
// those its row names (Real_Kernels::Row_Stats), so one it forgets does not
// compile rather than read zeros.
enum class Stat : unsigned {
  NONE = 0,
  ROW_SUMS = 1,
  SUMS_OF_SQUARES = 2,
  CENTRED_SQUARES = 4, // the sums of squares less the square of the sum over n; needs ROW_SUMS
  ROOTS = 8,           // the pairs are summed over the square roots of the values
};
constexpr Stat operator|(Stat a, Stat b) { return Stat(unsigned(a) | unsigned(b)); }

// A row's statistics. It has no default, so a row that leaves them out
// does not compile: NONE is written out.
struct Stats {
  constexpr Stats(Stat s) : bits(unsigned(s)) {}
  constexpr bool Has(Stat s) const { return (bits & unsigned(s)) != 0; }
  // Whether a statistic has to be summed along each row.
  constexpr bool Sums_Rows() const { return Has(Stat::ROW_SUMS | Stat::SUMS_OF_SQUARES | Stat::CENTRED_SQUARES); }
  friend constexpr bool operator==(Stats, Stats) = default;
  unsigned bits;
};

// What made a real pair's value fail, from the values of the two rows and
// the row statistics; empty when the formula has nothing specific to say.
using Real_Cause = Named<std::string(const Real_Kernels::Pair&, const Real_Kernels::Constants&)>;

// The causes the real rows name, in distfunc_real.cpp. Every one is
// followed there by what any formula says of non-finite or negative values.
namespace Real_Causes {
std::string Bray_Curtis(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Canberra(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Clark(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Sums_Of_Squares(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c); // CHORD, GEODESIC
std::string Dravik(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Edgar(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Euclidean(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Exclusive_Euclidean(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Exclusive_Manhattan(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Gower_D9(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Gower_D10(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Hellinger(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Kulczynski(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Manhattan(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
std::string Pearson(const Real_Kernels::Pair& p, const Real_Kernels::Constants& c);
} // namespace Real_Causes

// One choice of a real formula. A row with an implied transformation is a
// formula of its own to the user (chi square is the Euclidean distance of
// the values transformed for it) but computes with Value; its Term is that
// of Value's own row, and so are its statistics and its cause.
struct Real_Row {
  char Letter;
  const char* Label;
  const char* Name;
  Real_Formula Value;
  Pair_Tiles::Term Term;
  Stats Needs;
  Real_Cause Cause;
  std::optional<Real_Chars::Transformation> Implied = std::nullopt;
  bool Default = false;
};

// To add a real formula: its enumerator in distfunc.hpp, a row here (the
// rows are in the order in which the library lists the names: by name;
// the statistics its finish reads; its cause, declared above), and in
// distfunc_real.cpp its finish (its branch of Finish, which does not
// compile without one) and its cause. The computation, its dispatch and
// the tests over every path follow the table. A new kind of column term
// also needs its kernels.
inline constexpr std::array<Real_Row, 18> Real{{
    {'b', "Bray-Curtis", "BRAY_CURTIS", Real_Formula::BRAY_CURTIS, Pair_Tiles::Term::ABS_DIFF, Stat::ROW_SUMS,
     Real_Causes::Bray_Curtis},
    {'c', "Canberra", "CANBERRA", Real_Formula::CANBERRA, Pair_Tiles::Term::CANBERRA, Stat::NONE, Real_Causes::Canberra},
    {'i', "Chi square", "CHI_SQUARE", Real_Formula::EUCLIDEAN, Pair_Tiles::Term::SQUARED_DIFF, Stat::NONE,
     Real_Causes::Euclidean, Real_Chars::Transformation::FOR_CHI},
    {'o', "Chord", "CHORD", Real_Formula::CHORD, Pair_Tiles::Term::PRODUCT, Stat::SUMS_OF_SQUARES,
     Real_Causes::Sums_Of_Squares},
    {'a', "Clark", "CLARK", Real_Formula::CLARK, Pair_Tiles::Term::CLARK, Stat::NONE, Real_Causes::Clark},
    {'q', "Dravik", "DRAVIK", Real_Formula::DRAVIK, Pair_Tiles::Term::MAX, Stat::ROW_SUMS, Real_Causes::Dravik},
    {'d', "Edgar 2004", "EDGAR", Real_Formula::EDGAR, Pair_Tiles::Term::MIN, Stat::ROW_SUMS, Real_Causes::Edgar},
    {'e', "Euclidean", "EUCLIDEAN", Real_Formula::EUCLIDEAN, Pair_Tiles::Term::SQUARED_DIFF, Stat::NONE,
     Real_Causes::Euclidean, std::nullopt, true},
    {'f', "Euclidean, negative values = missing data", "EXCLUSIVE_EUCLIDEAN", Real_Formula::EXCLUSIVE_EUCLIDEAN,
     Pair_Tiles::Term::EXCL_SQUARED, Stat::NONE, Real_Causes::Exclusive_Euclidean},
    {'n', "Manhattan, negative values = missing data", "EXCLUSIVE_MANHATTAN", Real_Formula::EXCLUSIVE_MANHATTAN,
     Pair_Tiles::Term::EXCL_ABS, Stat::NONE, Real_Causes::Exclusive_Manhattan},
    {'g', "Geodesic", "GEODESIC", Real_Formula::GEODESIC, Pair_Tiles::Term::PRODUCT, Stat::SUMS_OF_SQUARES,
     Real_Causes::Sums_Of_Squares},
    {'t', "Gower & Legendre 1986, D9", "GOWER_D9", Real_Formula::GOWER_D9, Pair_Tiles::Term::D9, Stat::NONE,
     Real_Causes::Gower_D9},
    {'u', "Gower & Legendre 1986, D10", "GOWER_D10", Real_Formula::GOWER_D10, Pair_Tiles::Term::D10, Stat::NONE,
     Real_Causes::Gower_D10},
    // Summed over rows of square roots (Stat::ROOTS), which the call prepares.
    {'h', "Hellinger", "HELLINGER", Real_Formula::HELLINGER, Pair_Tiles::Term::SQUARED_DIFF, Stat::ROOTS,
     Real_Causes::Hellinger},
    {'k', "Kulczynski", "KULCZYNSKI", Real_Formula::KULCZYNSKI, Pair_Tiles::Term::MIN, Stat::ROW_SUMS,
     Real_Causes::Kulczynski},
    {'m', "Manhattan", "MANHATTAN", Real_Formula::MANHATTAN, Pair_Tiles::Term::ABS_DIFF, Stat::NONE,
     Real_Causes::Manhattan},
    {'p', "Pearson", "PEARSON", Real_Formula::PEARSON, Pair_Tiles::Term::PRODUCT, Stat::ROW_SUMS | Stat::CENTRED_SQUARES,
     Real_Causes::Pearson},
    {'s', "Spearman", "SPEARMAN", Real_Formula::PEARSON, Pair_Tiles::Term::PRODUCT, Stat::ROW_SUMS | Stat::CENTRED_SQUARES,
     Real_Causes::Pearson, Real_Chars::Transformation::RANKS},
}};

// The row of a formula: for the real ones the row without an implied
// transformation.
constexpr const Binary_Row& Row_Of(Binary_Formula f) { return Binary[static_cast<std::size_t>(f)]; }
constexpr const Discrete_Row& Row_Of(Discrete_Formula f) { return Discrete[static_cast<std::size_t>(f)]; }
constexpr const Real_Row& Row_Of(Real_Formula f) {
  for (const Real_Row& row : Real)
    if (row.Value == f && !row.Implied) return row;
  throw "a real formula without its row"; // not a constant: fails to compile where asked at compile time
}

// The table of a family.
constexpr const auto& Rows_Of(Binary_Formula) { return Binary; }
constexpr const auto& Rows_Of(Discrete_Formula) { return Discrete; }
constexpr const auto& Rows_Of(Real_Formula) { return Real; }

// Calls act with the formula as a compile-time constant: the one place
// that turns the formula of a call into the instantiations of its pair
// loop, generated from the table, so that each instantiation calls its
// finish directly rather than choosing it per pair.
template <class Formula, class Act>
void With_Formula(Formula f, Act&& act) {
  const bool found = [&]<std::size_t... K>(std::index_sequence<K...>) {
    return ((Rows_Of(f)[K].Value == f &&
             (act(std::integral_constant<Formula, Rows_Of(Formula{})[K].Value>{}), true)) ||
            ...);
  }(std::make_index_sequence<Rows_Of(Formula{}).size()>{});
  if (!found) throw Errors::Constraint_Error("internal error: a formula without its row");
}

template <class Table>
constexpr auto Default_Of(const Table& table) {
  for (const auto& row : table)
    if (row.Default) return row.Value;
  return table[0].Value;
}

// What the tables promise their readers, checked where they are written.
namespace Check {
template <class Table>
constexpr bool In_Enumeration_Order(const Table& table) {
  for (std::size_t k = 0; k < table.size(); ++k)
    if (static_cast<std::size_t>(table[k].Value) != k) return false;
  return true;
}
constexpr bool Real_Rows_Agree() {
  for (const Real_Row& row : Real) {
    const Real_Row& own = Row_Of(row.Value);
    if (row.Term != own.Term || row.Needs != own.Needs) return false;
    if (row.Needs.Has(Stat::CENTRED_SQUARES) && !row.Needs.Has(Stat::ROW_SUMS)) return false;
    if (row.Needs.Has(Stat::ROOTS) && row.Term != Pair_Tiles::Term::SQUARED_DIFF) return false;
    if (row.Implied && Row_Of(row.Value).Implied) return false;
  }
  return true;
}
// Each formula has one row of its own, and the formulas of those rows are
// the enumerators from the first on, none left out before the last.
constexpr bool Real_Formulas_Each_Once() {
  std::size_t own = 0;
  for (const Real_Row& row : Real) own += row.Implied ? 0 : 1;
  for (std::size_t k = 0; k < own; ++k) {
    int rows = 0;
    for (const Real_Row& row : Real) rows += !row.Implied && static_cast<std::size_t>(row.Value) == k ? 1 : 0;
    if (rows != 1) return false;
  }
  return true;
}
template <class Table>
constexpr int Defaults(const Table& table) {
  int count = 0;
  for (const auto& row : table) count += row.Default ? 1 : 0;
  return count;
}
} // namespace Check
static_assert(Check::In_Enumeration_Order(Binary) && Check::In_Enumeration_Order(Discrete));
static_assert(Check::Real_Rows_Agree() && Check::Real_Formulas_Each_Once());
static_assert(!std::is_default_constructible_v<Binary_Finish> && !std::is_constructible_v<Binary_Finish, std::nullptr_t>,
              "a row names its finish and cause: they have no default");
static_assert(Check::Defaults(Binary) == 1 && Check::Defaults(Discrete) == 1 && Check::Defaults(Real) == 1);

} // namespace Karvel::Phylo::Distfunc::Formulas
