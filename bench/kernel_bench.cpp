// Throughput of the distance routines alone (no parsing, no output), in
// pair-columns per second, on one thread and on all, for each vector path.
//
//   karvel_kernel_bench [NTAX [NCHAR [PATH]]]     PATH: scalar, vector, avx2 or avx512

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "threads/parallel.hpp"
#include "distance/distfunc.hpp"
#include "distance/kernels/pair_tiles.hpp"

using namespace Karvel;

namespace {

double Seconds_For(const Phylo::Real_Matrix& m, Phylo::Distfunc::Real_Formula f) {
  double best = 1e30;
  for (int rep = 0; rep < 3; ++rep) {
    const auto start = std::chrono::steady_clock::now();
    Generic::Square_Block b = Phylo::Distfunc::Distances(m, f, 0.0);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (s < best) best = s;
    if (b.Size() == 0) std::puts("");
  }
  return best;
}

} // namespace

int main(int argc, char** argv) {
  const int taxa = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int characters = argc > 2 ? std::atoi(argv[2]) : 1000;
  Phylo::Real_Matrix m;
  unsigned state = 12345;
  for (int t = 0; t < taxa; ++t) {
    for (int c = 0; c < characters; ++c) {
      state = state * 1103515245u + 12345u;
      m.Push(static_cast<double>((state >> 16) % 1000) / 10.0);
    }
    m.Close_Row();
  }
  const double pair_columns = 0.5 * taxa * (taxa - 1.0) * characters;
  const int all = Generic::Parallel::Threads();
  std::printf("%d x %d, %d threads available\n", taxa, characters, all);
  std::printf("%-8s %-10s %10s %10s %12s %8s\n", "path", "formula", "1 thread", "all", "e9 pc/s all", "speedup");
  using Phylo::Distfunc::Real_Formula;
  for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    if (argc > 3 && std::strcmp(argv[3], Generic::Simd::Name(path)) != 0) continue;
    Generic::Simd::Use(path);
    for (Real_Formula f : {Real_Formula::MANHATTAN, Real_Formula::EUCLIDEAN, Real_Formula::CANBERRA,
                           Real_Formula::PEARSON}) {
      Generic::Parallel::Set_Threads(1);
      const double one = Seconds_For(m, f);
      Generic::Parallel::Set_Threads(all);
      const double many = Seconds_For(m, f);
      std::printf("%-8s %-10s %9.3fs %9.3fs %12.2f %7.2fx\n", Generic::Simd::Name(path),
                  Phylo::Distfunc::Name(f), one, many, pair_columns / many / 1e9, one / many);
    }
  }
  return 0;
}
