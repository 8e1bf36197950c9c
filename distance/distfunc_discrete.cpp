// Matching coefficients of discrete characters: a pair of taxa is reduced to
// k, the number of characters whose states differ, out of n.

#include <cstddef>
#include <string>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "distance/distfunc_pairs.hpp"
#include "distance/kernels/kernels.hpp"

namespace Phylo::Distfunc {

const char* Name(Discrete_Formula formula) { return Formulas::Row_Of(formula).Name; }

namespace {

// The operation order of each form is fixed so that results are identical
// from run to run and machine to machine; MATCHING multiplies by the
// reciprocal and may therefore end one unit in the last place below k / n.
double Distance(Discrete_Formula formula, double k, double n, double inv_n) {
  switch (formula) {
  case Discrete_Formula::HAMANN: return 0.5 - ((n - 2.0 * k) * 0.5) / n;
  case Discrete_Formula::MATCHING: return k * inv_n;
  case Discrete_Formula::ROGERS_TANIMOTO: return (k + k) / (n + k);
  case Discrete_Formula::SOKAL_SNEATH_1: return k / ((n + n) - k);
  case Discrete_Formula::SOKAL_SNEATH_2: return k / (n - k);
  }
  return 0.0;
}

[[noreturn]] void Fail(Discrete_Formula formula, int i, int j, double value, std::size_t k, std::size_t n) {
  const std::string reason = k == n ? "k = n = " + std::to_string(n) + ": the taxa differ at every character"
                                    : "k = " + std::to_string(k) + ", n = " + std::to_string(n);
  throw Pair_Range_Error(Detail::Range_Message(Name(formula), value, reason), i, j);
}

} // namespace

Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula, Undefined_Pairs* undefined) {
  Discrete_Chars::Basic::Require_Aligned(matrix, "discrete distances");

  const std::size_t n = static_cast<std::size_t>(matrix.Row_Length(0));
  const double inv_n = 1.0 / static_cast<double>(n);
  if (!Detail::In_Distance_Range(inv_n))
    throw Errors::Constraint_Error("range check failed: 1 / n is infinite (n = 0: the rows have no characters)");

  std::vector<const char*> rows;
  rows.reserve(static_cast<std::size_t>(matrix.Rows()));
  for (int i = 0; i < matrix.Rows(); ++i) rows.push_back(matrix.Row(i).data());
  auto row = [&](int taxon) { return rows[static_cast<std::size_t>(taxon)]; };
  const auto Count_Mismatches = Kernels::Kernels().Mismatches.Count_Mismatches;

  return Detail::Fill_Pairs(
      0, matrix.Rows() - 1,
      [&](int i, int j) {
        const std::size_t k = Count_Mismatches(row(i), row(j), n);
        return Distance(formula, static_cast<double>(k), static_cast<double>(n), inv_n);
      },
      [&](int i, int j, double value) { Fail(formula, i, j, value, Count_Mismatches(row(i), row(j), n), n); },
      undefined);
}

} // namespace Phylo::Distfunc
