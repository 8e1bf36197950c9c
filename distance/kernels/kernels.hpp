#pragma once
// The distance kernels of every family, compiled once per instruction set
// (kernels_<path>.cpp: one translation unit a path, with that path's compile
// flags, including each family's body inside a namespace of its own) and
// reached through one table a path.

#include <cstddef>
#include <cstdint>

#include "distance/kernels/pair_tiles.hpp"
#include "simd/simd.hpp"

namespace Karvel::Phylo::Kernels {

using Generic::Simd::Path;

// The 2 x 2 table of a pair of binary rows x and y over the characters known
// in both: a = present in both, b = present in x only, c = present in y only,
// d = absent from both.
struct Frequency_Table {
  int a = 0;
  int b = 0;
  int c = 0;
  int d = 0;
  bool operator==(const Frequency_Table&) const = default;
};

// Sums of pairs of real rows (see pair_tiles.hpp).
struct Tile_Kernels {
  int Block_Width;
  void (*Tile_Sums)(Pair_Tiles::Term term, const double* data, std::size_t p, double threshold, int i_begin,
                    int i_end, int j_begin, int j_count, Pair_Tiles::Sums* out, double* panel,
                    std::size_t columns);
  void (*Masked_Tile_Sums)(Pair_Tiles::Term term, Pair_Tiles::Pair_Stats stats, const double* data, std::size_t p,
                           double threshold, int i_begin, int i_end, int j_begin, int j_count,
                           Pair_Tiles::Masked_Sums* out, double* panel, std::size_t columns);
};

// The number of the n positions at which two discrete rows hold different
// states.
// The same over the positions known in both rows, where a missing cell
// is a 0 byte: `known` such positions, `differ` of them with different
// states.
struct Mismatch_Kernels {
  std::size_t (*Count_Mismatches)(const char* x, const char* y, std::size_t n);
  void (*Count_Known_Mismatches)(const char* x, const char* y, std::size_t n, std::size_t* differ,
                                 std::size_t* known);
};

// Population counts of packed binary rows (presence mask then absence mask,
// each `words` long): the frequency table of two rows, and the number of
// bits set in both of two masks.
struct Binary_Count_Kernels {
  Frequency_Table (*Count_Table)(const std::uint64_t* x, const std::uint64_t* y, std::size_t words);
  int (*Count_Common)(const std::uint64_t* x, const std::uint64_t* y, std::size_t words);
};

// The columns Gower's kernel reads. `Flags`: 1 the matrix has missing
// cells, 2 asymmetric columns, 4 weights other than 1; without 1 and 2,
// `Total` (the sum of the weights) is every pair's denominator.
//
// With 8 (the presence form, for 1 or 2) the columns come in runs of one
// kind, Runs holding Run_Count pairs (past, kind): 0 a column whose |x - y|
// never exceeds 1, 1 one that takes min(|x - y|, 1), 2 one of integer
// codes, 3 an asymmetric column of 0s and 1s; the weights are finite and
// >= 0. Masked_Rows is the matrix with its NaNs; a path without Masked also
// reads Values, the matrix with 0 where a cell is missing, and Presence,
// 1.0 a cell present and 0.0 one missing.
struct Gower_Input {
  const double* Values;
  const double* Presence;
  const double* Masked_Rows;
  const double* Weights;
  const long long* Asymmetric;
  const int* Runs;
  int Run_Count;
  std::size_t P;
  int Flags;
  double Total;
};

// Gower's sums of pairs of mixed rows (gower_tiles_body.inc): Width j rows
// a call at most, i rows taken Rows at a time; the panel holds Width * p
// doubles (twice that in the presence form), the scratch Rows * Width sums.
struct Gower_Kernels {
  int Width;
  int Rows;
  bool Masked; // the presence form needs no Values and Presence
  void (*Sums)(const Gower_Input& input, int i_begin, int i_end, int j_begin, int j_count, Pair_Tiles::Sums* out,
               double* panel, Pair_Tiles::Sums* scratch);
};

struct Kernel_Set {
  Tile_Kernels Tiles;
  Mismatch_Kernels Mismatches;
  Binary_Count_Kernels Binary_Counts;
  Gower_Kernels Gower;
};

// The kernels of a path (an available one, to be run), by default the path
// every family takes.
const Kernel_Set& Kernels(Path path = Generic::Simd::Current());

} // namespace Karvel::Phylo::Kernels

// What each kernels_<path>.cpp defines: its set, from the bodies it included
// into the namespace UNIT.
#define KARVEL_KERNEL_SET(UNIT)                                                                         \
  {{UNIT::Block_Width_Here, UNIT::Tile_Sums_Here, UNIT::Masked_Tile_Sums_Here},                        \
   {UNIT::Count_Mismatches_Here, UNIT::Count_Known_Mismatches_Here},                                     \
   {UNIT::Count_Table_Here, UNIT::Count_Common_Here},                                                  \
   {UNIT::Gower_Width_Here, UNIT::Gower_Rows_Here, UNIT::Gower_Masked_Here, UNIT::Gower_Sums_Here}}
