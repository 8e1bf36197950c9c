#include "distance/kernels/pair_tiles.hpp"

#include "distance/kernels/kernels.hpp"

namespace Karvel::Phylo::Pair_Tiles {

int Block_Width(Path path) { return Kernels::Kernels(path).Tiles.Block_Width; }

std::size_t Panel_Size(Path path, std::size_t p, std::size_t columns) {
  return static_cast<std::size_t>(Block_Width(path)) * (p < columns ? p : columns);
}

void Tile_Sums(Path path, Term term, const double* data, std::size_t p, double threshold, int i_begin,
               int i_end, int j_begin, int j_count, Sums* out, double* panel, std::size_t columns) {
  Kernels::Kernels(path).Tiles.Tile_Sums(term, data, p, threshold, i_begin, i_end, j_begin, j_count, out, panel,
                                         columns);
}

void Masked_Tile_Sums(Path path, Term term, Pair_Stats stats, const double* data, std::size_t p, double threshold,
                      int i_begin, int i_end, int j_begin, int j_count, Masked_Sums* out, double* panel,
                      std::size_t columns) {
  Kernels::Kernels(path).Tiles.Masked_Tile_Sums(term, stats, data, p, threshold, i_begin, i_end, j_begin, j_count,
                                                out, panel, columns);
}

} // namespace Karvel::Phylo::Pair_Tiles

namespace Karvel::Phylo::Kernels {

extern const Kernel_Set Scalar_Set, Vector_Set;
#if defined(__x86_64__)
extern const Kernel_Set Avx2_Set, Avx512_Set;
#endif

const Kernel_Set& Kernels(Path path) {
  switch (path) {
  case Path::SCALAR: return Scalar_Set;
  case Path::VECTOR: return Vector_Set;
#if defined(__x86_64__)
  case Path::AVX2: return Avx2_Set;
  case Path::AVX512: return Avx512_Set;
#else
  default: break;
#endif
  }
  return Vector_Set;
}

} // namespace Karvel::Phylo::Kernels
