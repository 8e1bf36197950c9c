#pragma once
// The entry points of the kernel built once per instruction set.

#include <cstddef>

#include "distance/kernels/pair_tiles.hpp"

#define KARVEL_DECLARE_TILE_SUMS(SUFFIX)                                                                  \
  namespace Phylo::Pair_Tiles {                                                                         \
  extern const int Block_Width_##SUFFIX;                                                                  \
  void Tile_Sums_##SUFFIX(Term term, const double* data, std::size_t p, double threshold, int i_begin,    \
                          int i_end, int j_begin, int j_count, Sums* out, double* panel,                 \
                          std::size_t columns);                                                           \
  }

#define KARVEL_DEFINE_TILE_SUMS(SUFFIX)                                                                   \
  namespace Phylo::Pair_Tiles {                                                                         \
  const int Block_Width_##SUFFIX = SUFFIX##_Unit::Block_Width_Here;                                       \
  void Tile_Sums_##SUFFIX(Term term, const double* data, std::size_t p, double threshold, int i_begin,    \
                          int i_end, int j_begin, int j_count, Sums* out, double* panel,                 \
                          std::size_t columns) {                                                          \
    SUFFIX##_Unit::Tile_Sums_Here(term, data, p, threshold, i_begin, i_end, j_begin, j_count, out, panel,  \
                                  columns);                                                               \
  }                                                                                                       \
  }

KARVEL_DECLARE_TILE_SUMS(Scalar)
KARVEL_DECLARE_TILE_SUMS(Vector)
#if defined(__x86_64__)
KARVEL_DECLARE_TILE_SUMS(Avx2)
KARVEL_DECLARE_TILE_SUMS(Avx512)
#endif
