// Throughput of the distance routines alone (no parsing, no output), in
// pair-columns per second, on one thread and on all, for each vector path.
//
//   karvel_kernel_bench [NTAX [NCHAR [PATH]]]     PATH: scalar, vector, avx2 or avx512
//   karvel_kernel_bench missing [NTAX [NCHAR [FRACTION [PATH]]]]
//
// The second form times pairwise deletion: the same matrix complete and
// with FRACTION (default 0.1) of its cells missing, on all threads of
// PATH (default the best), for the formulas of the two kinds of masked tile (no pair
// sums, and the pair's row sums); defaults 5000 x 1000.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "threads/parallel.hpp"
#include "distance/distfunc.hpp"
#include "distance/kernels/pair_tiles.hpp"

using namespace Karvel;

namespace {

double Seconds_For(const Phylo::Real_Matrix& m, Phylo::Distfunc::Real_Formula f,
                   Phylo::Missing_Rule missing = Phylo::Missing_Rule::ERROR) {
  double best = 1e30;
  for (int rep = 0; rep < 3; ++rep) {
    const auto start = std::chrono::steady_clock::now();
    Generic::Square_Block b = Phylo::Distfunc::Distances(m, f, 0.0, nullptr, missing);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (s < best) best = s;
    if (b.Size() == 0) std::puts("");
  }
  return best;
}

Phylo::Real_Matrix Random_Matrix(int taxa, int characters, double missing) {
  Phylo::Real_Matrix m;
  unsigned state = 12345;
  for (int t = 0; t < taxa; ++t) {
    for (int c = 0; c < characters; ++c) {
      state = state * 1103515245u + 12345u;
      const double value = static_cast<double>((state >> 16) % 1000) / 10.0;
      state = state * 1103515245u + 12345u;
      m.Push(static_cast<double>((state >> 8) % 100000) < missing * 100000.0 ? std::nan("") : value);
    }
    m.Close_Row();
  }
  return m;
}

int Missing(int argc, char** argv) {
  const int taxa = argc > 2 ? std::atoi(argv[2]) : 5000;
  const int characters = argc > 3 ? std::atoi(argv[3]) : 1000;
  const double fraction = argc > 4 ? std::atof(argv[4]) : 0.1;
  for (Generic::Simd::Path path : Generic::Simd::All_Paths)
    if (argc > 5 && std::strcmp(argv[5], Generic::Simd::Name(path)) == 0 && Generic::Simd::Available(path))
      Generic::Simd::Use(path);
  const Phylo::Real_Matrix complete = Random_Matrix(taxa, characters, 0.0);
  const Phylo::Real_Matrix holed = Random_Matrix(taxa, characters, fraction);
  std::printf("%d x %d, %g missing, %d threads, path %s\n", taxa, characters, fraction, Generic::Parallel::Threads(),
              Generic::Simd::Name(Generic::Simd::Current()));
  std::printf("%-12s %10s %10s %8s\n", "formula", "complete", "missing", "ratio");
  using Phylo::Distfunc::Real_Formula;
  for (Real_Formula f : {Real_Formula::EUCLIDEAN, Real_Formula::BRAY_CURTIS, Real_Formula::PEARSON}) {
    const double whole = Seconds_For(complete, f);
    const double pairwise = Seconds_For(holed, f, Phylo::Missing_Rule::PAIRWISE);
    std::printf("%-12s %9.3fs %9.3fs %7.2fx\n", Phylo::Distfunc::Name(f), whole, pairwise, pairwise / whole);
  }
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "missing") == 0) return Missing(argc, argv);
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
