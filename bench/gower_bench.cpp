// Gower's coefficient on mixed characters against Manhattan on continuous
// ones of the same size: the distance routines alone (no parsing, no
// output), best of three, on one thread, for each vector path. The times are
// the process's CPU time, so that other work on a shared machine counts
// less (it still slows the caches).
//
//   karvel_gower_bench [NTAX [NCHAR [PATH]]]     PATH: scalar, vector, avx2 or avx512

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

#include "distance/distfunc.hpp"
#include "distance/distfunc_mixed.hpp"
#include "simd/simd.hpp"
#include "threads/parallel.hpp"

using namespace Karvel;

namespace {

double Cpu_Seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <class Run>
double Best_Of_Three(Run run) {
  double best = 1e30;
  for (int rep = 0; rep < 3; ++rep) {
    const double start = Cpu_Seconds();
    Generic::Square_Block b = run();
    const double s = Cpu_Seconds() - start;
    if (s < best) best = s;
    if (b.Size() == 0) std::puts("");
  }
  return best;
}

} // namespace

int main(int argc, char** argv) {
  const int taxa = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int characters = argc > 2 ? std::atoi(argv[2]) : 200;
  unsigned state = 12345;
  auto next = [&] {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % 1000;
  };
  // One column in five of each kind, 5% of the cells missing.
  Phylo::Distfunc::Gower_Matrix gower;
  for (int c = 0; c < characters; ++c) {
    gower.Weights.push_back(1.0 + static_cast<double>(c % 3));
    gower.Equality.push_back(c % 5 >= 2 ? -1 : 0);
    gower.Asymmetric.push_back(c % 5 == 4 ? -1 : 0);
  }
  Phylo::Real_Matrix real;
  for (int t = 0; t < taxa; ++t) {
    for (int c = 0; c < characters; ++c) {
      const unsigned r = next();
      double v = c % 5 < 2 ? r / 999.0 : c % 5 == 2 ? static_cast<double>(r % 5) : static_cast<double>(r % 2);
      if (next() < 50) v = std::numeric_limits<double>::quiet_NaN();
      gower.Values.Push(v);
      real.Push(static_cast<double>(next()) / 10.0);
    }
    gower.Values.Close_Row();
    real.Close_Row();
  }
  // The same characters complete, symmetric and of unit weights: the
  // denominator is then the same for every pair.
  Phylo::Distfunc::Gower_Matrix complete = gower;
  for (std::size_t c = 0; c < complete.Weights.size(); ++c) {
    complete.Weights[c] = 1.0;
    complete.Asymmetric[c] = 0;
  }
  for (int t = 0; t < taxa; ++t)
    for (double& v : complete.Values.Row(t))
      if (v != v) v = 0.0;
  std::printf("%d x %d, 1 thread; gower: 5%% missing, weighted, asymmetric columns; complete: none of those\n", taxa,
              characters);
  std::printf("%-8s %10s %10s %8s %10s %8s\n", "path", "manhattan", "gower", "ratio", "complete", "ratio");
  Generic::Parallel::Set_Threads(1);
  for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    if (argc > 3 && std::strcmp(argv[3], Generic::Simd::Name(path)) != 0) continue;
    Generic::Simd::Use(path);
    const double manhattan =
        Best_Of_Three([&] { return Phylo::Distfunc::Distances(real, Phylo::Distfunc::Real_Formula::MANHATTAN, 0.0); });
    Phylo::Distfunc::Undefined_Pairs undefined;
    const double g = Best_Of_Three([&] { return Phylo::Distfunc::Distances(gower, &undefined); });
    const double c = Best_Of_Three([&] { return Phylo::Distfunc::Distances(complete, &undefined); });
    std::printf("%-8s %9.3fs %9.3fs %8.2f %9.3fs %8.2f\n", Generic::Simd::Name(path), manhattan, g, g / manhattan, c,
                c / manhattan);
  }
}
