// The memory the distance routines take besides the matrix and the result
// must not grow with the number of characters: a few million characters per
// taxon are real inputs, and scratch proportional to them on every worker
// exhausts the machine long before the matrix does. This program counts the
// allocations made through operator new while a routine runs, so it is built
// on its own, away from the other tests.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "threads/parallel.hpp"
#include "distance/distfunc.hpp"
#include "distance/kernels/pair_tiles.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

std::atomic<bool> counting{false};
std::atomic<std::size_t> total_bytes{0};
std::atomic<std::size_t> largest_bytes{0};

void* Allocate(std::size_t size) {
  if (counting.load(std::memory_order_relaxed)) {
    total_bytes.fetch_add(size, std::memory_order_relaxed);
    std::size_t seen = largest_bytes.load(std::memory_order_relaxed);
    while (size > seen && !largest_bytes.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}

} // namespace

// Every form that goes to malloc is replaced, so that each one is paired
// with free (sanitizers check that).
void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using Phylo::Distfunc::Real_Formula;
using Phylo::Pair_Tiles::Column_Block;
using Generic::Simd::Path;

struct Allocations {
  std::size_t total;
  std::size_t largest;
};

template <class Compute>
Allocations Measure(Compute compute) {
  total_bytes = 0;
  largest_bytes = 0;
  counting = true;
  compute();
  counting = false;
  return {total_bytes.load(), largest_bytes.load()};
}

Phylo::Real_Matrix Two_Rows(std::size_t characters) {
  Phylo::Real_Matrix m;
  for (int t = 0; t < 2; ++t) {
    for (std::size_t c = 0; c < characters; ++c)
      m.Push(static_cast<double>((c * (7 + 4 * t) + 3 * t) % 101) * 0.25);
    m.Close_Row();
  }
  return m;
}

// Two numbers of characters past one column block, one of them many
// blocks long: every allocation a routine makes is the same for both.
TEST(WorkerScratch, DoesNotGrowWithTheNumberOfCharacters) {
  Test_Support::Settings_Scope settings;
  const std::size_t few = 2 * Column_Block + 3, many = 60 * Column_Block + 1;
  const Phylo::Real_Matrix short_rows = Two_Rows(few), long_rows = Two_Rows(many);
  for (Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    settings.Path(path);
    settings.Threads(2);
    for (int f = 0; f <= static_cast<int>(Real_Formula::PEARSON); ++f) {
      const auto formula = static_cast<Real_Formula>(f);
      // HELLINGER keeps the roots of the whole matrix, once per call.
      if (formula == Real_Formula::HELLINGER) continue;
      const Allocations a = Measure([&] { Phylo::Distfunc::Distances(short_rows, formula, 0.0); });
      const Allocations b = Measure([&] { Phylo::Distfunc::Distances(long_rows, formula, 0.0); });
      EXPECT_EQ(a.total, b.total) << Phylo::Distfunc::Name(formula) << " on " << Generic::Simd::Name(path);
      EXPECT_EQ(a.largest, b.largest) << Phylo::Distfunc::Name(formula) << " on " << Generic::Simd::Name(path);
      EXPECT_LE(b.largest, Phylo::Pair_Tiles::Panel_Size(path, many) * sizeof(double));
    }
  }
}

// Across many real column blocks the sums still go column by column: the
// distances are those of one plain pass over the columns.
TEST(WorkerScratch, ManyColumnBlocksGiveTheSumsOfOnePass) {
  Test_Support::Settings_Scope settings;
  const std::size_t n = 3 * Column_Block + 17;
  const Phylo::Real_Matrix m = Two_Rows(n);
  const double* x = m.Row(0).data();
  const double* y = m.Row(1).data();
  double differences = std::fabs(x[0] - y[0]), maxima = 0.0;
  maxima = maxima + (x[0] > y[0] ? x[0] : y[0]);
  for (std::size_t k = 1; k < n; ++k) {
    differences = differences + std::fabs(x[k] - y[k]);
    maxima = maxima + (x[k] > y[k] ? x[k] : y[k]);
  }
  for (Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    settings.Path(path);
    EXPECT_EQ(Phylo::Distfunc::Distances(m, Real_Formula::MANHATTAN, 0.0)(0, 1),
              differences * (1.0 / static_cast<double>(n)))
        << Generic::Simd::Name(path);
    EXPECT_EQ(Phylo::Distfunc::Distances(m, Real_Formula::GOWER_D9, 0.0)(0, 1), differences / maxima)
        << Generic::Simd::Name(path);
  }
}

} // namespace
