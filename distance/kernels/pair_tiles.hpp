#pragma once
// Column sums of pairs of rows of a real matrix, many pairs at a time.
//
// Every pair (i, j) gets its own accumulators, which add the terms of the
// columns strictly in ascending order, starting from the first column's
// term; SIMD lanes and threads only decide how many pairs advance together.
// So every path gives, bit for bit, what a plain loop over the columns of
// one pair gives.

#include <cstddef>

#include "simd/simd.hpp"

namespace Karvel::Phylo::Pair_Tiles {

// The per-column term of a summation, x from row i and y from row j.
enum class Term {
  ABS_DIFF,      // abs(x - y)
  SQUARED_DIFF,  // (x - y) * (x - y)
  CANBERRA,      // abs(x - y) / (abs(x) + abs(y)), 0 where the denominator is 0; counts the others
  CLARK,         // ((x - y) / (x + y)) squared, 0 where x + y = 0; counts the others
  MIN,           // min(x, y)
  MAX,           // max(x, y)
  PRODUCT,       // x * y
  EXCL_SQUARED,  // (x - y) squared where both are >= threshold, else 0; counts those columns
  EXCL_ABS,      // abs(x - y) where both are >= threshold, else 0; counts those columns
  D9,            // abs(x - y); second: max(x, y) summed from 0.0
  D10,           // smaller / larger, 0 where the larger is 0; counts the others
};

// The sums of one pair: Sum from the first column's term on; Second is the
// count (from 0) or, for D9, the sum of maxima (from 0.0).
struct Sums {
  double Sum;
  double Second;
};

using Path = Generic::Simd::Path;

// How many j rows one call takes at most on a path.
int Block_Width(Path path);

// How many columns one pass of the kernel takes at most: the panel of j rows
// it packs holds Block_Width rows of that many columns (2 MB at most), which
// keeps it in cache and its size independent of the number of columns.
inline constexpr std::size_t Column_Block = 4096;

// The scratch space, in doubles, that Tile_Sums needs for p columns taken
// `columns` at a time.
std::size_t Panel_Size(Path path, std::size_t p, std::size_t columns = Column_Block);

// For every i in [i_begin, i_end) and every j in [j_begin, j_begin + j_count)
// (j_count <= Block_Width), the sums of the term over the p >= 1 columns of
// rows i and j of the row-major block `data` (p values a row) into
// out[(i - i_begin) * j_count + (j - j_begin)]. `panel` is scratch space of
// Panel_Size(path, p, columns) doubles; columns >= 1 (tests make it small to
// cross the block boundaries with few columns).
void Tile_Sums(Path path, Term term, const double* data, std::size_t p, double threshold, int i_begin,
               int i_end, int j_begin, int j_count, Sums* out, double* panel,
               std::size_t columns = Column_Block);

// Pairwise deletion: a pair sums only the columns where both of its values
// are present (neither is NaN), and whatever its formula reads of the rows
// it sums over those columns too, since they differ from pair to pair.
// How many columns a pair shares is not counted here: the caller has it
// cheaper from bit masks of the present values.
enum class Pair_Stats {
  NONE,     // the term's sums only
  SUMS,     // and the sums of x and of y over the shared columns
  SQUARES,  // and the sums of their squares as well
};

// The sums of one pair over its shared columns, each in ascending column
// order from the first shared column's term on, as a plain loop over those
// columns alone gives them: Sum and Second as in Sums; Sx, Sy, Qx, Qy the
// sums of x, y, x * x and y * y (only those the Pair_Stats asked for; the
// others are left unspecified, as is Sum of a pair that shares nothing).
struct Masked_Sums {
  double Sum;
  double Second;
  double Sx;
  double Sy;
  double Qx;
  double Qy;
};

// Tile_Sums over the shared columns of each pair.
void Masked_Tile_Sums(Path path, Term term, Pair_Stats stats, const double* data, std::size_t p, double threshold,
                      int i_begin, int i_end, int j_begin, int j_count, Masked_Sums* out, double* panel,
                      std::size_t columns = Column_Block);

} // namespace Karvel::Phylo::Pair_Tiles
