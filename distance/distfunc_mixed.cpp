// Gower's coefficient of mixed characters: the pairs are tiled as the real
// formulae's are (a tile: rows i against a panel of rows j > i), so every
// pair is computed once, as (i, j) with i < j, whichever row asks for it.

#include "distance/distfunc_mixed.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "distance/distfunc_pairs.hpp"
#include "distance/kernels/kernels.hpp"
#include "threads/parallel.hpp"

namespace Karvel::Phylo::Distfunc {

namespace {

// Above all else a pair with no weight in common: 0 / 0 is NaN, which the
// range check catches.
double Finish(const Pair_Tiles::Sums& s) { return s.Sum / s.Second; }

class Gower_Rows final : public Row_Distances {
public:
  explicit Gower_Rows(const Gower_Matrix& matrix) : m_(matrix) {
    const int p = m_.Characters();
    if (m_.Equality.size() != m_.Weights.size() || m_.Asymmetric.size() != m_.Weights.size())
      throw Errors::Constraint_Error("internal error: the Gower columns disagree in number");
    for (int t = 0; t < m_.Values.Rows(); ++t)
      if (m_.Values.Row_Length(t) != p)
        throw Errors::Constraint_Error("internal error: a row of the Gower matrix has the wrong length");
    const double* v = m_.Values.Data();
    const std::size_t cells = static_cast<std::size_t>(p) * static_cast<std::size_t>(Taxa());
    for (std::size_t c = 0; c < cells; ++c)
      if (v[c] != v[c]) {
        flags_ |= 1;
        break;
      }
    for (std::size_t k = 0; k < m_.Weights.size(); ++k) {
      if (m_.Asymmetric[k]) flags_ |= 2;
      if (m_.Weights[k] != 1.0) flags_ |= 4;
      total_ += m_.Weights[k];
    }
    if (flags_ & 3) Prepare_Presence();
  }
  int Taxa() const override { return m_.Values.Rows(); }

  [[noreturn]] void Raise(int i, int j) const override {
    const double value = Finish(Reference(i, j));
    throw Pair_Range_Error(Detail::Range_Message(Gower_Name, value,
                                                 "the taxa have no character of positive weight present in both"),
                           i, j);
  }

  Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined) const override {
    constexpr int Chunk = 128; // rows i per call of the kernel
    const Kernels::Gower_Kernels& kernel = Kernels::Kernels().Gower;
    const int width = kernel.Width;
    const int taxa = Taxa();
    const std::size_t p = static_cast<std::size_t>(m_.Characters());
    const std::size_t row_length = static_cast<std::size_t>(taxa);
    const bool in_row_i = part != Row_Part::BEFORE, in_row_j = part != Row_Part::AFTER;

    const std::vector<Detail::Row_Tile> tiles = Detail::Row_Tiles(taxa, first, past, part, width, Chunk);

    Kernels::Gower_Input input{
        m_.Values.Data(), nullptr, nullptr, m_.Weights.data(), m_.Asymmetric.data(), nullptr, 0, p, flags_, total_};
    if (!runs_.empty() && (kernel.Masked || !presence_.empty())) {
      input.Values = values_.data();
      input.Presence = presence_.data();
      input.Masked_Rows = m_.Values.Data();
      input.Runs = runs_.data();
      input.Run_Count = static_cast<int>(runs_.size() / 2);
      input.Flags |= 8;
    }
    const int threads = std::max(1, std::min<int>(Generic::Parallel::Threads(), static_cast<int>(tiles.size())));
    std::atomic<std::size_t> next{0};
    std::vector<Detail::Noted_Failures> failures(static_cast<std::size_t>(threads), Detail::Noted_Failures(part, order));
    Generic::Parallel::Run(threads, [&](int worker) {
      Detail::Noted_Failures& failure = failures[static_cast<std::size_t>(worker)];
      // The presence form keeps a weight beside each value.
      const std::size_t per_cell = (input.Flags & 8) != 0 ? 2 : 1;
      std::vector<double> panel(per_cell * static_cast<std::size_t>(width) * std::max<std::size_t>(p, 1));
      std::vector<Pair_Tiles::Sums> sums(static_cast<std::size_t>(Chunk) * static_cast<std::size_t>(width));
      std::vector<Pair_Tiles::Sums> scratch(static_cast<std::size_t>(kernel.Rows) * static_cast<std::size_t>(width));
      for (std::size_t k; (k = next.fetch_add(1, std::memory_order_relaxed)) < tiles.size();) {
        const Detail::Row_Tile& t = tiles[k];
        kernel.Sums(input, t.i0, t.i1, t.j0, t.count, sums.data(), panel.data(), scratch.data());
        for (int i = t.i0; i < t.i1; ++i) {
          const Pair_Tiles::Sums* row_sums = &sums[static_cast<std::size_t>(i - t.i0) * static_cast<std::size_t>(t.count)];
          for (int l = std::max(0, i + 1 - t.j0); l < t.count; ++l) {
            const int j = t.j0 + l;
            double d = Finish(row_sums[l]);
            if (!Detail::In_Distance_Range(d)) {
              if (!undefined) {
                failure.Note(i, j);
                continue;
              }
              d = std::numeric_limits<double>::quiet_NaN();
              const int own = part == Row_Part::BEFORE ? j : i;
              if (own >= first && own < past) failure.Note_Undefined(i, j);
            }
            if (d == 0.0) d = 0.0; // never -0.0
            if (in_row_i && i >= first && i < past)
              rows[static_cast<std::size_t>(i - first) * row_length + static_cast<std::size_t>(j)] = d;
            if (in_row_j && j < past) rows[static_cast<std::size_t>(j - first) * row_length + static_cast<std::size_t>(i)] = d;
          }
        }
      }
    });
    for (int r = first; r < past; ++r) rows[static_cast<std::size_t>(r - first) * row_length + static_cast<std::size_t>(r)] = 0.0;
    Detail::Noted_Failures first_failure(part, order);
    for (const Detail::Noted_Failures& f : failures) first_failure.Note(f);
    if (undefined) first_failure.Add_To(*undefined, [&](int i, int j) { Raise(i, j); });
    return first_failure.First();
  }

private:
  // One pair by a plain loop, for the message of a failing pair.
  Pair_Tiles::Sums Reference(int i, int j) const {
    Pair_Tiles::Sums s{0.0, 0.0};
    const auto x = m_.Values.Row(i), y = m_.Values.Row(j);
    for (std::size_t k = 0; k < m_.Weights.size(); ++k) {
      if (x[k] != x[k] || y[k] != y[k] || (m_.Asymmetric[k] && x[k] == 0.0 && y[k] == 0.0)) continue;
      const double d = m_.Equality[k] ? (x[k] != y[k] ? 1.0 : 0.0) : std::abs(x[k] - y[k]);
      s.Sum += m_.Weights[k] * d;
      s.Second += m_.Weights[k];
    }
    return s;
  }

  // The presence form of the kernel (Kernels::Gower_Input), where the
  // matrix allows it (runs_ then not empty): every weight finite and >= 0
  // (so that w * 0 is 0) and every asymmetric column of 0s and 1s (so that
  // max(x, y) tells whether either is present). Else the kernel masks each
  // column.
  void Prepare_Presence() {
    const std::size_t p = m_.Weights.size();
    const int taxa = Taxa();
    for (double w : m_.Weights)
      if (!(w >= 0.0 && w <= std::numeric_limits<double>::max())) return;
    // The span of each column's present cells, and whether they are all
    // integers, all 0 or 1.
    std::vector<double> lo(p, std::numeric_limits<double>::infinity()), hi(p, -std::numeric_limits<double>::infinity());
    std::vector<char> integers(p, 1), zeros_and_ones(p, 1);
    for (int t = 0; t < taxa; ++t) {
      const auto row = m_.Values.Row(t);
      for (std::size_t k = 0; k < p; ++k) {
        const double v = row[k];
        if (v != v) continue;
        lo[k] = std::min(lo[k], v);
        hi[k] = std::max(hi[k], v);
        integers[k] = integers[k] && std::abs(v) <= std::numeric_limits<double>::max() && v == std::floor(v);
        zeros_and_ones[k] = zeros_and_ones[k] && (v == 0.0 || v == 1.0);
      }
    }
    std::vector<int> kinds(p);
    for (std::size_t k = 0; k < p; ++k) {
      if (m_.Asymmetric[k] && !zeros_and_ones[k]) return;
      // Where the present cells span at most 1 no |x - y| exceeds it, rounding
      // being monotonic; a missing cell's 0 may, but its term is 0 * d.
      // Distinct integers differ by 1 at least.
      kinds[k] = m_.Asymmetric[k] ? 3 : integers[k] ? 2 : hi[k] - lo[k] <= 1.0 || lo[k] > hi[k] ? 0 : 1;
    }
    for (std::size_t k = 0; k < p; ++k)
      if (k + 1 == p || kinds[k + 1] != kinds[k]) {
        runs_.push_back(static_cast<int>(k + 1));
        runs_.push_back(kinds[k]);
      }
    // A path with mask registers reads the matrix as it is; the others
    // need it without NaNs, and the presence apart (if the path changes
    // before Compute, without these the kernel masks each column).
    if (Kernels::Kernels().Gower.Masked) return;
    const std::size_t cells = p * static_cast<std::size_t>(taxa);
    values_.assign(m_.Values.Data(), m_.Values.Data() + cells);
    presence_.assign(cells, 1.0);
    for (std::size_t c = 0; c < cells; ++c)
      if (values_[c] != values_[c]) values_[c] = presence_[c] = 0.0;
  }

  const Gower_Matrix& m_;
  int flags_ = 0; // see Kernels::Gower_Input
  double total_ = 0.0; // the weights summed in ascending order
  std::vector<double> values_, presence_; // the presence form, if taken
  std::vector<int> runs_;
};

} // namespace

Generic::Square_Block Distances(const Gower_Matrix& matrix, Undefined_Pairs* undefined) {
  const Gower_Rows rows(matrix);
  const int taxa = rows.Taxa();
  Generic::Square_Block block(0, taxa - 1);
  if (taxa == 0) return block;
  const Failed_Pair failed = rows.Compute(0, taxa, Row_Part::ALL, Pair_Order::TAXA, block.Data(), undefined);
  if (failed.Found()) rows.Raise(failed.I, failed.J);
  return block;
}

std::unique_ptr<Row_Distances> Row_Distances_Of(const Gower_Matrix& matrix) {
  return std::make_unique<Gower_Rows>(matrix);
}

} // namespace Karvel::Phylo::Distfunc
