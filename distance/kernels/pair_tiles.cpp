#include "distance/kernels/pair_tiles.hpp"

#include <atomic>
#include <initializer_list>

#include "distance/kernels/pair_tiles_isa.hpp"

namespace Phylo::Pair_Tiles {

bool Available(Path path) {
  switch (path) {
  case Path::SCALAR:
  case Path::VECTOR: return true;
#if defined(__x86_64__)
  case Path::AVX2: return __builtin_cpu_supports("avx2");
  case Path::AVX512: return __builtin_cpu_supports("avx512f");
#else
  case Path::AVX2:
  case Path::AVX512: return false;
#endif
  }
  return false;
}

Path Best_Path() {
  static const Path best = [] {
    for (Path p : {Path::AVX512, Path::AVX2})
      if (Available(p)) return p;
    return Path::VECTOR;
  }();
  return best;
}

namespace {
std::atomic<int> chosen{-1};
}

Path Current_Path() {
  const int c = chosen.load(std::memory_order_relaxed);
  return c < 0 ? Best_Path() : static_cast<Path>(c);
}

void Use_Path(Path path) { chosen.store(static_cast<int>(Available(path) ? path : Best_Path()), std::memory_order_relaxed); }

const char* Name(Path path) {
  switch (path) {
  case Path::SCALAR: return "scalar";
  case Path::VECTOR: return "vector";
  case Path::AVX2: return "avx2";
  case Path::AVX512: return "avx512";
  }
  return "?";
}

int Block_Width(Path path) {
  switch (path) {
  case Path::SCALAR: return Block_Width_Scalar;
  case Path::VECTOR: return Block_Width_Vector;
#if defined(__x86_64__)
  case Path::AVX2: return Block_Width_Avx2;
  case Path::AVX512: return Block_Width_Avx512;
#else
  default: break;
#endif
  }
  return Block_Width_Vector;
}

std::size_t Panel_Size(Path path, std::size_t p, std::size_t columns) {
  return static_cast<std::size_t>(Block_Width(path)) * (p < columns ? p : columns);
}

void Tile_Sums(Path path, Term term, const double* data, std::size_t p, double threshold, int i_begin,
               int i_end, int j_begin, int j_count, Sums* out, double* panel, std::size_t columns) {
  switch (path) {
  case Path::SCALAR:
    return Tile_Sums_Scalar(term, data, p, threshold, i_begin, i_end, j_begin, j_count, out, panel, columns);
#if defined(__x86_64__)
  case Path::AVX2:
    return Tile_Sums_Avx2(term, data, p, threshold, i_begin, i_end, j_begin, j_count, out, panel, columns);
  case Path::AVX512:
    return Tile_Sums_Avx512(term, data, p, threshold, i_begin, i_end, j_begin, j_count, out, panel, columns);
#endif
  default:
    return Tile_Sums_Vector(term, data, p, threshold, i_begin, i_end, j_begin, j_count, out, panel, columns);
  }
}

} // namespace Phylo::Pair_Tiles
