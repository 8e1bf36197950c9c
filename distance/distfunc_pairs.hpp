#pragma once
// The pair loop shared by the distance routines: every unordered pair of
// taxa is computed once, checked, and mirrored into the square block.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "distance/distfunc.hpp"
#include "threads/parallel.hpp"
#include "distance/distfunc.hpp"
#include "threads/progress.hpp"
#include "arrays/row_matrix.hpp"

namespace Karvel::Phylo::Distfunc::Detail {

// A distance is never negative, infinite or not a number; a formula whose
// denominator vanished shows up here, since divisions are not guarded.
inline bool In_Distance_Range(double value) {
  return value >= 0.0 && value <= std::numeric_limits<double>::max();
}

// How a value failed the range check, for the message.
inline const char* Out_Of_Range_Kind(double value) {
  if (std::isnan(value)) return "not a number";
  if (std::isinf(value)) return "infinite";
  if (value < 0.0) return "negative";
  return "too large";
}

inline std::string Range_Message(const char* formula, double value, const std::string& reason) {
  return std::string("range check failed: the ") + formula + " distance is " + Out_Of_Range_Kind(value) +
         " (" + reason + ")";
}

// Copies the upper triangle of the block into the lower one. Going tile by
// tile keeps the column-wise writes within cache; writing (j, i) as each
// pair is computed costs a cache miss per pair on large blocks.
inline void Mirror_Upper_Triangle(Generic::Square_Block& block) {
  constexpr int Tile = 64;
  const std::size_t n = static_cast<std::size_t>(block.Size());
  double* data = block.Data();
  const int tiles = static_cast<int>((n + Tile - 1) / Tile);
  std::atomic<int> next{0};
  // Each band of Tile rows is copied into its own columns: bands are
  // independent, so threads can take them in any order.
  Generic::Parallel::Run(std::max(1, std::min(Generic::Parallel::Threads(), tiles)), [&](int) {
    for (int band; (band = next.fetch_add(1, std::memory_order_relaxed)) < tiles;) {
      const std::size_t ib = static_cast<std::size_t>(band) * Tile;
      for (std::size_t jb = ib; jb < n; jb += Tile)
        for (std::size_t i = ib; i < std::min(ib + Tile, n); ++i)
          for (std::size_t j = std::max(jb, i + 1); j < std::min(jb + Tile, n); ++j)
            data[j * n + i] = data[i * n + j];
    }
  });
}

// The first pair, in the order (i, j) of a single-threaded run, whose value
// failed the range check.
struct First_Failure {
  int I = std::numeric_limits<int>::max();
  int J = std::numeric_limits<int>::max();
  double Value = 0.0;

  bool Found() const { return I != std::numeric_limits<int>::max(); }
  void Offer(int i, int j, double value) {
    if (i < I || (i == I && j < J)) *this = {i, j, value};
  }
  void Offer(const First_Failure& other) {
    if (other.Found()) Offer(other.I, other.J, other.Value);
  }
};

// Hands out rows in ascending order to the threads, and stops handing out
// rows past the first row that failed: later rows cannot hold an earlier
// failure.
class Row_Dealer {
public:
  Row_Dealer(int first, int last) : next_(first), last_(last) {}
  // The next row to compute, or none (-1).
  int Next() {
    const int i = next_.fetch_add(1, std::memory_order_relaxed);
    return i <= last_ && i <= stop_.load(std::memory_order_relaxed) ? i : -1;
  }
  void Failed_In(int row) {
    int seen = stop_.load(std::memory_order_relaxed);
    while (row < seen && !stop_.compare_exchange_weak(seen, row, std::memory_order_relaxed)) {
    }
  }

private:
  std::atomic<int> next_;
  std::atomic<int> stop_{std::numeric_limits<int>::max()};
  const int last_;
};

// Pairs kept as NaN: the first fails again, now to raise the error whose
// message says why, which is caught and kept.
template <class Raise>
void Note_Undefined(Undefined_Pairs& undefined, long long count, int i, int j, Raise&& raise) {
  undefined.Count = count;
  undefined.I = i;
  undefined.J = j;
  try {
    raise();
  } catch (const Errors::Error& e) {
    undefined.Cause = e.what();
  }
}

// Fills the block over first .. last (first <= last): 0.0 on the diagonal,
// distance(i, j) for i < j, computed once and mirrored to (j, i). Rows are
// shared out among threads; distance must be safe to call from several at
// once. The first pair (in single-threaded order) whose value is outside the
// distance range goes to fail(i, j, value), which must throw; no block is
// returned then, so the mirroring can wait until the end. With `undefined`,
// every such pair is a quiet NaN instead, and the first one's error is kept
// there.
template <class Distance, class Fail>
Generic::Square_Block Fill_Pairs(int first, int last, Distance&& distance, Fail&& fail,
                                 Undefined_Pairs* undefined = nullptr) {
  Generic::Square_Block result(first, last);
  const int taxa = last - first + 1;
  const int threads = std::max(1, std::min(Generic::Parallel::Threads(), taxa / 8));
  Row_Dealer dealer(first, last);
  Generic::Progress::Stage progress("distances", static_cast<std::uint64_t>(taxa), Generic::Progress::Unit::PAIR_ROWS);
  std::vector<First_Failure> failures(static_cast<std::size_t>(threads));
  std::vector<long long> counts(static_cast<std::size_t>(threads), 0);
  Generic::Parallel::Run(threads, [&](int worker) {
    First_Failure& failure = failures[static_cast<std::size_t>(worker)];
    for (int i; (i = dealer.Next()) >= 0;) {
      double* row = result.Row(i);
      row[i - first] = 0.0;
      for (int j = i + 1; j <= last; ++j) {
        const double value = distance(i, j);
        if (!In_Distance_Range(value)) {
          failure.Offer(i, j, value);
          if (undefined) {
            ++counts[static_cast<std::size_t>(worker)];
            row[j - first] = std::numeric_limits<double>::quiet_NaN();
            continue;
          }
          dealer.Failed_In(i);
          break;
        }
        // Adding +0.0 turns a -0.0 into +0.0 and leaves every other value
        // as it is, so a zero distance always prints without a sign.
        row[j - first] = value + 0.0;
      }
      progress.Advance(1);
    }
  });
  First_Failure first_failure;
  for (const First_Failure& f : failures) first_failure.Offer(f);
  if (first_failure.Found()) {
    if (!undefined) fail(first_failure.I, first_failure.J, first_failure.Value);
    long long count = 0;
    for (long long c : counts) count += c;
    Note_Undefined(*undefined, count, first_failure.I, first_failure.J,
                   [&] { fail(first_failure.I, first_failure.J, first_failure.Value); });
  }
  Mirror_Upper_Triangle(result);
  return result;
}

// The tiles of the pairs of rows first .. past - 1 that a tiled kernel
// computes: `count` (at most `width`) j rows from j0 against rows i0 .. i1 -
// 1 (at most `chunk` of them). The pairs whose later taxon is in the block
// come first, then (unless only those before are asked for) those whose
// earlier taxon is. Each pair is in one tile, with i < j.
struct Row_Tile {
  int j0, count, i0, i1;
};
inline std::vector<Row_Tile> Row_Tiles(int taxa, int first, int past, Row_Part part, int width, int chunk) {
  std::vector<Row_Tile> tiles;
  for (int j0 = first; j0 < past; j0 += width) {
    const int count = std::min(width, past - j0);
    const int i_end = j0 + count - 1;
    for (int i0 = part == Row_Part::AFTER ? first : 0; i0 < i_end; i0 += chunk)
      tiles.push_back({j0, count, i0, std::min(i_end, i0 + chunk)});
  }
  if (part != Row_Part::BEFORE)
    for (int j0 = past; j0 < taxa; j0 += width)
      for (int i0 = first; i0 < past; i0 += chunk)
        tiles.push_back({j0, std::min(width, taxa - j0), i0, std::min(past, i0 + chunk)});
  return tiles;
}

// The failing pairs of one worker, kept as the first in the order asked
// for: under ROWS a pair of a BEFORE part counts from its later taxon.
class Noted_Failures {
public:
  Noted_Failures(Row_Part part, Pair_Order order) : by_later_(part == Row_Part::BEFORE && order == Pair_Order::ROWS) {}
  void Note(int i, int j) { // i < j
    if (by_later_)
      first_.Offer(j, i, 0.0);
    else
      first_.Offer(i, j, 0.0);
  }
  // A pair kept as NaN, in the row that counts it.
  void Note_Undefined(int i, int j) { // i < j
    ++count_;
    undefined_.Offer(i, j, 0.0);
  }
  void Note(const Noted_Failures& other) {
    first_.Offer(other.first_);
    undefined_.Offer(other.undefined_);
    count_ += other.count_;
  }
  // Adds the pairs kept as NaN to `undefined`; raise(i, j) gives the error
  // of a pair that comes first.
  template <class Raise>
  void Add_To(Undefined_Pairs& undefined, Raise&& raise) const {
    undefined.Count += count_;
    if (!undefined_.Found()) return;
    if (undefined.I >= 0 && (undefined.I < undefined_.I || (undefined.I == undefined_.I && undefined.J < undefined_.J)))
      return;
    undefined.I = undefined_.I;
    undefined.J = undefined_.J;
    try {
      raise(undefined_.I, undefined_.J);
    } catch (const Errors::Error& e) {
      undefined.Cause = e.what();
    }
  }
  Failed_Pair First() const {
    if (!first_.Found()) return {};
    return by_later_ ? Failed_Pair{first_.J, first_.I} : Failed_Pair{first_.I, first_.J};
  }

private:
  bool by_later_;
  First_Failure first_;
  First_Failure undefined_;
  long long count_ = 0;
};

// Rows first .. past - 1 of the square of `taxa` taxa, as Row_Distances
// computes them, for routines that evaluate one pair at a time: distance(i,
// j) for i < j, checked and stored as Fill_Pairs stores it. Rows are
// shared out among threads.
// With `undefined`, failing pairs are NaN and added there (raise(i, j)
// gives a pair's error).
template <class Distance, class Raise>
Failed_Pair Fill_Rows(int taxa, int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined, Distance&& distance, Raise&& raise) {
  const int count = past - first;
  const int threads = std::max(1, std::min(Generic::Parallel::Threads(), count));
  const std::size_t width = static_cast<std::size_t>(taxa);
  std::atomic<int> next{first};
  std::vector<Noted_Failures> failures(static_cast<std::size_t>(threads), Noted_Failures(part, order));
  Generic::Parallel::Run(threads, [&](int worker) {
    Noted_Failures& failure = failures[static_cast<std::size_t>(worker)];
    for (int r; (r = next.fetch_add(1, std::memory_order_relaxed)) < past;) {
      double* row = rows + static_cast<std::size_t>(r - first) * width;
      const int lo = part == Row_Part::AFTER ? r + 1 : 0;
      const int hi = part == Row_Part::BEFORE ? r : taxa;
      row[r] = 0.0;
      for (int j = lo; j < hi; ++j) {
        if (j == r) continue;
        const int a = std::min(r, j), b = std::max(r, j);
        const double value = distance(a, b);
        if (!In_Distance_Range(value)) {
          if (!undefined) {
            failure.Note(a, b);
            continue;
          }
          row[j] = std::numeric_limits<double>::quiet_NaN();
          if (r == (part == Row_Part::BEFORE ? b : a)) failure.Note_Undefined(a, b);
          continue;
        }
        row[j] = value + 0.0; // as Fill_Pairs: never -0.0
      }
    }
  });
  Noted_Failures first_failure(part, order);
  for (const Noted_Failures& f : failures) first_failure.Note(f);
  if (undefined) first_failure.Add_To(*undefined, raise);
  return first_failure.First();
}

} // namespace Karvel::Phylo::Distfunc::Detail
