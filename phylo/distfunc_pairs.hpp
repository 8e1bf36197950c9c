#pragma once
// The pair loop shared by the distance routines: every unordered pair of
// taxa is computed once, checked, and mirrored into the square block.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

#include "generic/row_matrix.hpp"

namespace Phylo::Distfunc::Detail {

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
  constexpr std::size_t Tile = 64;
  const std::size_t n = static_cast<std::size_t>(block.Size());
  double* data = block.Data();
  for (std::size_t ib = 0; ib < n; ib += Tile)
    for (std::size_t jb = ib; jb < n; jb += Tile)
      for (std::size_t i = ib; i < std::min(ib + Tile, n); ++i)
        for (std::size_t j = std::max(jb, i + 1); j < std::min(jb + Tile, n); ++j)
          data[j * n + i] = data[i * n + j];
}

// Fills the block over first .. last (first <= last): 0.0 on the diagonal,
// distance(i, j) for i < j, computed once and mirrored to (j, i). A value
// outside the distance range goes to fail(i, j, value), which must throw;
// no block is returned then, so the mirroring can wait until the end.
template <class Distance, class Fail>
Generic::Square_Block Fill_Pairs(int first, int last, Distance&& distance, Fail&& fail) {
  Generic::Square_Block result(first, last);
  for (int i = first; i <= last; ++i) {
    double* row = result.Row(i);
    row[i - first] = 0.0;
    for (int j = i + 1; j <= last; ++j) {
      const double value = distance(i, j);
      if (!In_Distance_Range(value)) fail(i, j, value);
      // Adding +0.0 turns a -0.0 into +0.0 and leaves every other value as
      // it is, so a zero distance always prints without a sign.
      row[j - first] = value + 0.0;
    }
  }
  Mirror_Upper_Triangle(result);
  return result;
}

} // namespace Phylo::Distfunc::Detail
