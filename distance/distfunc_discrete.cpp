// Matching coefficients of discrete characters: a pair of taxa is reduced to
// k, the number of characters whose states differ, out of n.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "distance/distfunc_pairs.hpp"
#include "distance/kernels/kernels.hpp"

namespace Karvel::Phylo::Distfunc {

const char* Name(Discrete_Formula formula) { return Formulas::Row_Of(formula).Name; }

namespace {

// A pair's counts: k differing characters out of n, and 1 / n.
struct Counts {
  std::size_t k;
  std::size_t n;
  double inv_n;
};

// The rows of a matrix and how a pair of them is counted. Where missing
// cells are left out pair by pair and the matrix holds some, the rows are a
// copy in which each missing cell is a 0 byte, which is never a state (the
// data model reads it as a blank), so the kernels find them without a
// table; each pair then has its own n. Otherwise the rows are the matrix's
// own and n is theirs.
class Pair_Counter {
public:
  Pair_Counter(const Disc_Matrix& matrix, const Missing_Symbols* missing) {
    Discrete_Chars::Basic::Require_Aligned(matrix, "discrete distances");
    n_ = static_cast<std::size_t>(matrix.Row_Length(0));
    inv_n_ = 1.0 / static_cast<double>(n_);
    if (!Detail::In_Distance_Range(inv_n_))
      throw Errors::Constraint_Error("range check failed: 1 / n is infinite (n = 0: the rows have no characters)");
    const auto taxa = static_cast<std::size_t>(matrix.Rows());
    rows_.reserve(taxa);
    if (missing && missing->Cells > 0) {
      known_.resize(taxa * n_);
      for (std::size_t i = 0; i < taxa; ++i) {
        const std::span<const char> row = matrix.Row(static_cast<int>(i));
        char* to = known_.data() + i * n_;
        for (std::size_t t = 0; t < n_; ++t) to[t] = missing->Is[static_cast<unsigned char>(row[t])] ? '\0' : row[t];
        rows_.push_back(to);
      }
    } else {
      for (std::size_t i = 0; i < taxa; ++i) rows_.push_back(matrix.Row(static_cast<int>(i)).data());
    }
  }
  // The rows may point into known_.
  Pair_Counter(const Pair_Counter&) = delete;
  Pair_Counter& operator=(const Pair_Counter&) = delete;

  int Taxa() const { return static_cast<int>(rows_.size()); }

  Counts operator()(int i, int j) const {
    const char* x = rows_[static_cast<std::size_t>(i)];
    const char* y = rows_[static_cast<std::size_t>(j)];
    if (known_.empty()) return {count_(x, y, n_), n_, inv_n_};
    std::size_t k = 0, n = 0;
    count_known_(x, y, n_, &k, &n);
    return {k, n, 1.0 / static_cast<double>(n)};
  }

private:
  std::size_t n_ = 0;
  double inv_n_ = 0.0;
  std::vector<const char*> rows_;
  std::vector<char> known_;
  decltype(Kernels::Kernels().Mismatches.Count_Mismatches) count_ = Kernels::Kernels().Mismatches.Count_Mismatches;
  decltype(Kernels::Kernels().Mismatches.Count_Known_Mismatches) count_known_ =
      Kernels::Kernels().Mismatches.Count_Known_Mismatches;
};

// The distance of a pair, before the range check.
template <Discrete_Formula F>
double Distance(const Counts& c) {
  constexpr auto finish = Formulas::Row_Of(F).Finish.Function;
  return finish(static_cast<double>(c.k), static_cast<double>(c.n), c.inv_n);
}

[[noreturn]] [[gnu::cold]] void Fail(Discrete_Formula formula, int i, int j, double value, const Counts& c) {
  std::string reason =
      c.n == 0 ? "no character is known in both taxa" : Formulas::Row_Of(formula).Cause.Function(c.k, c.n);
  if (reason.empty()) reason = "k = " + std::to_string(c.k) + ", n = " + std::to_string(c.n);
  throw Pair_Range_Error(Detail::Range_Message(Name(formula), value, reason), i, j);
}

template <Discrete_Formula F>
Generic::Square_Block Fill(const Pair_Counter& count, Undefined_Pairs* undefined) {
  return Detail::Fill_Pairs(
      0, count.Taxa() - 1, [&](int i, int j) { return Distance<F>(count(i, j)); },
      [&](int i, int j, double value) { Fail(F, i, j, value, count(i, j)); }, undefined);
}

Generic::Square_Block Distances_Over(const Pair_Counter& count, Discrete_Formula formula, Undefined_Pairs* undefined) {
  std::optional<Generic::Square_Block> result;
  Formulas::With_Formula(formula, [&](auto f) { result.emplace(Fill<decltype(f)::value>(count, undefined)); });
  return std::move(*result);
}

// The ambiguity codes of nucleotides, and every symbol an alignment of
// nucleotides may hold besides them, in both cases.
constexpr std::string_view Ambiguity_Codes = "RYSWKMBDHVNryswkmbdhvn";
constexpr std::string_view Nucleotide_Symbols = "ACGTUacgtu?-";

} // namespace

namespace Formulas::Discrete_Causes {

std::string None(std::size_t, std::size_t) { return {}; }

std::string Differ_Everywhere(std::size_t k, std::size_t n) {
  if (k == n) return "k = n = " + std::to_string(n) + ": the taxa differ at every character";
  return {};
}

} // namespace Formulas::Discrete_Causes

Missing_Symbols Missing_Symbols_Of(const Disc_Matrix& matrix, std::string_view declared) {
  std::array<std::size_t, 256> seen{};
  for (int i = 0; i < matrix.Rows(); ++i)
    for (const char c : matrix.Row(i)) ++seen[static_cast<unsigned char>(c)];
  Missing_Symbols missing;
  auto mark = [&](std::string_view symbols) {
    for (const char c : symbols) missing.Is[static_cast<unsigned char>(c)] = true;
  };
  mark("?-");
  mark(declared);
  bool nucleotides = true;
  for (std::size_t c = 0; c < seen.size(); ++c) {
    const bool code = Nucleotide_Symbols.find(static_cast<char>(c)) != std::string_view::npos ||
                      Ambiguity_Codes.find(static_cast<char>(c)) != std::string_view::npos;
    if (seen[c] > 0 && !missing.Is[c] && !code) nucleotides = false;
  }
  if (nucleotides) {
    for (const char c : Ambiguity_Codes) {
      const auto u = static_cast<unsigned char>(c);
      if (!missing.Is[u]) missing.Ambiguous += seen[u];
      missing.Is[u] = true;
    }
  }
  for (std::size_t c = 0; c < seen.size(); ++c)
    if (missing.Is[c]) missing.Cells += seen[c];
  return missing;
}

Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula, Undefined_Pairs* undefined) {
  return Distances_Over(Pair_Counter(matrix, nullptr), formula, undefined);
}

Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula, const Missing_Symbols& missing,
                                Undefined_Pairs* undefined) {
  return Distances_Over(Pair_Counter(matrix, &missing), formula, undefined);
}

} // namespace Karvel::Phylo::Distfunc

namespace Karvel::Phylo::Distfunc {

namespace {

template <Discrete_Formula F>
class Discrete_Rows final : public Row_Distances {
public:
  Discrete_Rows(const Disc_Matrix& matrix, const Missing_Symbols* missing) : count_(matrix, missing) {}
  int Taxa() const override { return count_.Taxa(); }
  Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined) const override {
    return Detail::Fill_Rows(
        Taxa(), first, past, part, order, rows, undefined, [&](int i, int j) { return Distance<F>(count_(i, j)); },
        [&](int i, int j) { Raise(i, j); });
  }
  [[noreturn]] void Raise(int i, int j) const override {
    const Counts c = count_(i, j);
    Fail(F, i, j, Distance<F>(c), c);
  }

private:
  Pair_Counter count_;
};

std::unique_ptr<Row_Distances> Rows_Of(const Disc_Matrix& matrix, Discrete_Formula formula,
                                       const Missing_Symbols* missing) {
  std::unique_ptr<Row_Distances> rows;
  Formulas::With_Formula(formula,
                         [&](auto f) { rows = std::make_unique<Discrete_Rows<decltype(f)::value>>(matrix, missing); });
  return rows;
}

} // namespace

std::unique_ptr<Row_Distances> Row_Distances_Of(const Disc_Matrix& matrix, Discrete_Formula formula) {
  return Rows_Of(matrix, formula, nullptr);
}

std::unique_ptr<Row_Distances> Row_Distances_Of(const Disc_Matrix& matrix, Discrete_Formula formula,
                                                const Missing_Symbols& missing) {
  return Rows_Of(matrix, formula, &missing);
}

} // namespace Karvel::Phylo::Distfunc
