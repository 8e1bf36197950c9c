#pragma once
// The distance formulae of each datatype, one row per formula: the option
// letter that selects it, its label in the usage text, the name it has in
// messages and in the library, and for the real formulae the column term
// the pair kernels sum. The option parser, the usage text, the messages and
// the library all read these tables, so a formula is known everywhere as
// soon as it has its row.

#include <array>
#include <optional>
#include <string_view>

#include "distance/distfunc.hpp"
#include "distance/kernels/pair_tiles.hpp"
#include "transform/real_chars.hpp"

namespace Karvel::Phylo::Distfunc::Formulas {

// One formula of the binary or discrete family. Default marks the formula
// used when no letter chooses one (a star in the usage text).
template <class Formula>
struct Row {
  char Letter;
  const char* Label;
  const char* Name;
  Formula Value;
  bool Default = false;
};

// To add a binary formula: its enumerator in distfunc.hpp (at the end), a
// row here at the same position, and its case in Distance and Reason of
// distfunc_binary.cpp. Rows are in the order of the enumeration, which is
// also the order in which the library lists the names.
inline constexpr std::array<Row<Binary_Formula>, 19> Binary{{
    {'h', "Hamann", "HAMANN", Binary_Formula::HAMANN},
    {'m', "Matching", "MATCHING", Binary_Formula::MATCHING},
    {'r', "Rogers-Tanimoto", "ROGERS_TANIMOTO", Binary_Formula::ROGERS_TANIMOTO},
    {'b', "Sokal-Sneath 1", "SOKAL_SNEATH_1", Binary_Formula::SOKAL_SNEATH_1},
    {'c', "Sokal-Sneath 2", "SOKAL_SNEATH_2", Binary_Formula::SOKAL_SNEATH_2},
    {'d', "Sokal-Sneath 3", "SOKAL_SNEATH_3", Binary_Formula::SOKAL_SNEATH_3},
    {'e', "Sokal-Sneath 4", "SOKAL_SNEATH_4", Binary_Formula::SOKAL_SNEATH_4},
    {'n', "Yule", "YULE", Binary_Formula::YULE},
    {'p', "Phi", "PHI", Binary_Formula::PHI},
    {'i', "Jaccard", "JACCARD", Binary_Formula::JACCARD},
    {'s', "Soerensen", "SOERENSEN", Binary_Formula::SOERENSEN, true},
    {'t', "Triple weight", "TRIPLE_WEIGHT", Binary_Formula::TRIPLE_WEIGHT},
    {'a', "Rogers-Tanimoto, asymmetric", "ROGERS_TANIMOTO_ASYMMETRIC", Binary_Formula::ROGERS_TANIMOTO_ASYMMETRIC},
    {'u', "Russell-Rao", "RUSSELL_RAO", Binary_Formula::RUSSELL_RAO},
    {'k', "Kulczynski", "KULCZYNSKI", Binary_Formula::KULCZYNSKI},
    {'q', "Kulczynski 2", "KULCZYNSKI_2", Binary_Formula::KULCZYNSKI_2},
    {'o', "Ochiai", "OCHIAI", Binary_Formula::OCHIAI},
    {'f', "Faith", "FAITH", Binary_Formula::FAITH},
    {'g', "Fager", "FAGER", Binary_Formula::FAGER},
}};

// To add a discrete formula: its enumerator in distfunc.hpp (at the end), a
// row here at the same position, and its case in Distance of
// distfunc_discrete.cpp. The letter is shared with a binary formula, or a
// new one.
inline constexpr std::array<Row<Discrete_Formula>, 5> Discrete{{
    {'h', "Hamann", "HAMANN", Discrete_Formula::HAMANN},
    {'m', "Matching", "MATCHING", Discrete_Formula::MATCHING, true},
    {'r', "Rogers-Tanimoto", "ROGERS_TANIMOTO", Discrete_Formula::ROGERS_TANIMOTO},
    {'b', "Sokal-Sneath 1", "SOKAL_SNEATH_1", Discrete_Formula::SOKAL_SNEATH_1},
    {'c', "Sokal-Sneath 2", "SOKAL_SNEATH_2", Discrete_Formula::SOKAL_SNEATH_2},
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

// One choice of a real formula. A row with an implied transformation is a
// formula of its own to the user (chi square is the Euclidean distance of
// the values transformed for it) but computes with Value; its Term is that
// of Value's own row.
struct Real_Row {
  char Letter;
  const char* Label;
  const char* Name;
  Real_Formula Value;
  Pair_Tiles::Term Term;
  Stats Needs;
  std::optional<Real_Chars::Transformation> Implied = std::nullopt;
  bool Default = false;
};

// To add a real formula: its enumerator in distfunc.hpp, a row here (the
// rows are in the order in which the library lists the names: by name;
// the statistics its finish reads), and in distfunc_real.cpp its finish
// (Finish) and what can make it fail (Cause). The computation, its
// dispatch and the tests over every path follow the table. A new kind of
// column term also needs its kernels.
inline constexpr std::array<Real_Row, 18> Real{{
    {'b', "Bray-Curtis", "BRAY_CURTIS", Real_Formula::BRAY_CURTIS, Pair_Tiles::Term::ABS_DIFF, Stat::ROW_SUMS},
    {'c', "Canberra", "CANBERRA", Real_Formula::CANBERRA, Pair_Tiles::Term::CANBERRA, Stat::NONE},
    {'i', "Chi square", "CHI_SQUARE", Real_Formula::EUCLIDEAN, Pair_Tiles::Term::SQUARED_DIFF, Stat::NONE,
     Real_Chars::Transformation::FOR_CHI},
    {'o', "Chord", "CHORD", Real_Formula::CHORD, Pair_Tiles::Term::PRODUCT, Stat::SUMS_OF_SQUARES},
    {'a', "Clark", "CLARK", Real_Formula::CLARK, Pair_Tiles::Term::CLARK, Stat::NONE},
    {'q', "Dravik", "DRAVIK", Real_Formula::DRAVIK, Pair_Tiles::Term::MAX, Stat::ROW_SUMS},
    {'d', "Edgar 2004", "EDGAR", Real_Formula::EDGAR, Pair_Tiles::Term::MIN, Stat::ROW_SUMS},
    {'e', "Euclidean", "EUCLIDEAN", Real_Formula::EUCLIDEAN, Pair_Tiles::Term::SQUARED_DIFF, Stat::NONE, std::nullopt, true},
    {'f', "Euclidean, negative values = missing data", "EXCLUSIVE_EUCLIDEAN", Real_Formula::EXCLUSIVE_EUCLIDEAN,
     Pair_Tiles::Term::EXCL_SQUARED, Stat::NONE},
    {'n', "Manhattan, negative values = missing data", "EXCLUSIVE_MANHATTAN", Real_Formula::EXCLUSIVE_MANHATTAN,
     Pair_Tiles::Term::EXCL_ABS, Stat::NONE},
    {'g', "Geodesic", "GEODESIC", Real_Formula::GEODESIC, Pair_Tiles::Term::PRODUCT, Stat::SUMS_OF_SQUARES},
    {'t', "Gower & Legendre 1986, D9", "GOWER_D9", Real_Formula::GOWER_D9, Pair_Tiles::Term::D9, Stat::NONE},
    {'u', "Gower & Legendre 1986, D10", "GOWER_D10", Real_Formula::GOWER_D10, Pair_Tiles::Term::D10, Stat::NONE},
    // Summed over rows of square roots (Stat::ROOTS), which the call prepares.
    {'h', "Hellinger", "HELLINGER", Real_Formula::HELLINGER, Pair_Tiles::Term::SQUARED_DIFF, Stat::ROOTS},
    {'k', "Kulczynski", "KULCZYNSKI", Real_Formula::KULCZYNSKI, Pair_Tiles::Term::MIN, Stat::ROW_SUMS},
    {'m', "Manhattan", "MANHATTAN", Real_Formula::MANHATTAN, Pair_Tiles::Term::ABS_DIFF, Stat::NONE},
    {'p', "Pearson", "PEARSON", Real_Formula::PEARSON, Pair_Tiles::Term::PRODUCT, Stat::ROW_SUMS | Stat::CENTRED_SQUARES},
    {'s', "Spearman", "SPEARMAN", Real_Formula::PEARSON, Pair_Tiles::Term::PRODUCT, Stat::ROW_SUMS | Stat::CENTRED_SQUARES,
     Real_Chars::Transformation::RANKS},
}};

// The row of a formula: for the real ones the row without an implied
// transformation.
constexpr const Row<Binary_Formula>& Row_Of(Binary_Formula f) { return Binary[static_cast<std::size_t>(f)]; }
constexpr const Row<Discrete_Formula>& Row_Of(Discrete_Formula f) { return Discrete[static_cast<std::size_t>(f)]; }
constexpr const Real_Row& Row_Of(Real_Formula f) {
  for (const Real_Row& row : Real)
    if (row.Value == f && !row.Implied) return row;
  throw "a real formula without its row"; // not a constant: fails to compile where asked at compile time
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
static_assert(Check::Defaults(Binary) == 1 && Check::Defaults(Discrete) == 1 && Check::Defaults(Real) == 1);

} // namespace Karvel::Phylo::Distfunc::Formulas
