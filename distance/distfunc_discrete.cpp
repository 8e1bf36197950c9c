// Matching coefficients of discrete characters: a pair of taxa is reduced to
// k, the number of characters whose states differ, out of n.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "distance/distfunc_pairs.hpp"
#include "distance/kernels/kernels.hpp"

namespace Karvel::Phylo::Distfunc {

const char* Name(Discrete_Formula formula) { return Formulas::Row_Of(formula).Name; }

namespace {

// The distance of a pair, before the range check.
template <Discrete_Formula F>
double Distance(std::size_t k, std::size_t n, double inv_n) {
  constexpr auto finish = Formulas::Row_Of(F).Finish.Function;
  return finish(static_cast<double>(k), static_cast<double>(n), inv_n);
}

[[noreturn]] [[gnu::cold]] void Fail(Discrete_Formula formula, int i, int j, double value, std::size_t k,
                                     std::size_t n) {
  std::string reason = Formulas::Row_Of(formula).Cause.Function(k, n);
  if (reason.empty()) reason = "k = " + std::to_string(k) + ", n = " + std::to_string(n);
  throw Pair_Range_Error(Detail::Range_Message(Name(formula), value, reason), i, j);
}

template <Discrete_Formula F, class Count>
Generic::Square_Block Fill(const std::vector<const char*>& rows, std::size_t n, double inv_n, Count count,
                           Undefined_Pairs* undefined) {
  auto row = [&](int taxon) { return rows[static_cast<std::size_t>(taxon)]; };
  return Detail::Fill_Pairs(
      0, static_cast<int>(rows.size()) - 1, [&](int i, int j) { return Distance<F>(count(row(i), row(j), n), n, inv_n); },
      [&](int i, int j, double value) { Fail(F, i, j, value, count(row(i), row(j), n), n); }, undefined);
}

} // namespace

namespace Formulas::Discrete_Causes {

std::string None(std::size_t, std::size_t) { return {}; }

std::string Differ_Everywhere(std::size_t k, std::size_t n) {
  if (k == n) return "k = n = " + std::to_string(n) + ": the taxa differ at every character";
  return {};
}

} // namespace Formulas::Discrete_Causes

Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula, Undefined_Pairs* undefined) {
  Discrete_Chars::Basic::Require_Aligned(matrix, "discrete distances");

  const std::size_t n = static_cast<std::size_t>(matrix.Row_Length(0));
  const double inv_n = 1.0 / static_cast<double>(n);
  if (!Detail::In_Distance_Range(inv_n))
    throw Errors::Constraint_Error("range check failed: 1 / n is infinite (n = 0: the rows have no characters)");

  std::vector<const char*> rows;
  rows.reserve(static_cast<std::size_t>(matrix.Rows()));
  for (int i = 0; i < matrix.Rows(); ++i) rows.push_back(matrix.Row(i).data());
  const auto Count_Mismatches = Kernels::Kernels().Mismatches.Count_Mismatches;

  std::optional<Generic::Square_Block> result;
  Formulas::With_Formula(formula, [&](auto f) {
    result.emplace(Fill<decltype(f)::value>(rows, n, inv_n, Count_Mismatches, undefined));
  });
  return std::move(*result);
}

} // namespace Karvel::Phylo::Distfunc

namespace Karvel::Phylo::Distfunc {

namespace {

template <Discrete_Formula F>
class Discrete_Rows final : public Row_Distances {
public:
  explicit Discrete_Rows(const Disc_Matrix& matrix) {
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
    Fail(F, i, j, Value(i, j), Mismatches(i, j), n_);
  }

private:
  std::size_t Mismatches(int i, int j) const {
    return count_(rows_[static_cast<std::size_t>(i)], rows_[static_cast<std::size_t>(j)], n_);
  }
  double Value(int i, int j) const { return Distance<F>(Mismatches(i, j), n_, inv_n_); }

  std::size_t n_ = 0;
  double inv_n_ = 0.0;
  std::vector<const char*> rows_;
  decltype(Kernels::Kernels().Mismatches.Count_Mismatches) count_ = Kernels::Kernels().Mismatches.Count_Mismatches;
};

} // namespace

std::unique_ptr<Row_Distances> Row_Distances_Of(const Disc_Matrix& matrix, Discrete_Formula formula) {
  std::unique_ptr<Row_Distances> rows;
  Formulas::With_Formula(formula, [&](auto f) { rows = std::make_unique<Discrete_Rows<decltype(f)::value>>(matrix); });
  return rows;
}

} // namespace Karvel::Phylo::Distfunc
