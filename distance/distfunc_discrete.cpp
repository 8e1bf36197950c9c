// Matching coefficients of discrete characters: a pair of taxa is reduced to
// k, the number of characters whose states differ, out of n.

#include <cstddef>
#include <string>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "distance/distfunc_pairs.hpp"
#include "distance/kernels/kernels.hpp"

namespace Karvel::Phylo::Distfunc {

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

} // namespace Karvel::Phylo::Distfunc

namespace Karvel::Phylo::Distfunc {

namespace {

class Discrete_Rows final : public Row_Distances {
public:
  Discrete_Rows(const Disc_Matrix& matrix, Discrete_Formula formula) : formula_(formula) {
    Discrete_Chars::Basic::Require_Aligned(matrix, "discrete distances");
    n_ = static_cast<std::size_t>(matrix.Row_Length(0));
    inv_n_ = 1.0 / static_cast<double>(n_);
    if (!Detail::In_Distance_Range(inv_n_))
      throw Errors::Constraint_Error("range check failed: 1 / n is infinite (n = 0: the rows have no characters)");
    rows_.reserve(static_cast<std::size_t>(matrix.Rows()));
    for (int i = 0; i < matrix.Rows(); ++i) rows_.push_back(matrix.Row(i).data());
  }
  int Taxa() const override { return static_cast<int>(rows_.size()); }
  Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined) const override {
    return Detail::Fill_Rows(
        Taxa(), first, past, part, order, rows, undefined, [&](int i, int j) { return Value(i, j); },
        [&](int i, int j) { Raise(i, j); });
  }
  [[noreturn]] void Raise(int i, int j) const override {
    Fail(formula_, i, j, Value(i, j), Mismatches(i, j), n_);
  }

private:
  std::size_t Mismatches(int i, int j) const {
    return count_(rows_[static_cast<std::size_t>(i)], rows_[static_cast<std::size_t>(j)], n_);
  }
  double Value(int i, int j) const {
    return Distance(formula_, static_cast<double>(Mismatches(i, j)), static_cast<double>(n_), inv_n_);
  }

  Discrete_Formula formula_;
  std::size_t n_ = 0;
  double inv_n_ = 0.0;
  std::vector<const char*> rows_;
  decltype(Kernels::Kernels().Mismatches.Count_Mismatches) count_ = Kernels::Kernels().Mismatches.Count_Mismatches;
};

} // namespace

std::unique_ptr<Row_Distances> Row_Distances_Of(const Disc_Matrix& matrix, Discrete_Formula formula) {
  return std::make_unique<Discrete_Rows>(matrix, formula);
}

} // namespace Karvel::Phylo::Distfunc
