#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "distance/kernels/pair_tiles.hpp"

using namespace Karvel;

namespace {

using Generic::Simd::Path;
using Phylo::Pair_Tiles::Sums;
using Phylo::Pair_Tiles::Term;

const Term All_Terms[] = {Term::ABS_DIFF, Term::SQUARED_DIFF, Term::CANBERRA, Term::CLARK,
                          Term::MIN,      Term::MAX,          Term::PRODUCT,  Term::EXCL_SQUARED,
                          Term::EXCL_ABS, Term::D9,           Term::D10};

// The plain loop over the columns of one pair, written from the definitions.
Sums Plain(Term term, const double* x, const double* y, std::size_t p, double threshold) {
  double sum = 0, second = 0;
  for (std::size_t k = 0; k < p; ++k) {
    const double a = x[k], b = y[k];
    double t = 0;
    switch (term) {
    case Term::ABS_DIFF: t = std::fabs(a - b); break;
    case Term::SQUARED_DIFF: t = (a - b) * (a - b); break;
    case Term::CANBERRA: {
      const double den = std::fabs(a) + std::fabs(b);
      if (den != 0) {
        t = std::fabs(a - b) / den;
        second += 1;
      }
      break;
    }
    case Term::CLARK:
      if (a + b != 0) {
        const double q = (a - b) / (a + b);
        t = q * q;
        second += 1;
      }
      break;
    case Term::MIN: t = a < b ? a : b; break;
    case Term::MAX: t = a > b ? a : b; break;
    case Term::PRODUCT: t = a * b; break;
    case Term::EXCL_SQUARED:
      if (a >= threshold && b >= threshold) {
        t = (a - b) * (a - b);
        second += 1;
      }
      break;
    case Term::EXCL_ABS:
      if (a >= threshold && b >= threshold) {
        t = std::fabs(a - b);
        second += 1;
      }
      break;
    case Term::D9:
      t = std::fabs(a - b);
      second = second + (a > b ? a : b);
      break;
    case Term::D10: {
      const double larger = a > b ? a : b, smaller = a > b ? b : a;
      if (larger != 0) {
        t = smaller / larger;
        second += 1;
      }
      break;
    }
    }
    sum = k == 0 ? t : sum + t;
  }
  return {sum, second};
}

std::vector<double> Random_Matrix(int n, std::size_t p, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_real_distribution<double> u(-5.0, 20.0);
  std::vector<double> m(static_cast<std::size_t>(n) * p);
  for (double& v : m) {
    switch (kind(rng)) {
    case 0: case 1: v = 0.0; break;              // many zeros, as in abundance data
    case 2: v = -0.0; break;                     // signed zeros must not change sums
    case 3: v = std::round(u(rng)); break;       // ties
    case 4: v = -std::fabs(u(rng)) * 1e-3; break; // small negatives: missing in the exclusive terms
    default: v = u(rng); break;
    }
  }
  return m;
}

bool Same_Bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

TEST(PairTiles, EveryPathGivesThePlainLoopBitForBit) {
  const int n = 23; // not a multiple of any tile
  for (std::size_t p : {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64}}) {
    const std::vector<double> m = Random_Matrix(n, p, 7 + p);
    for (Path path : Generic::Simd::All_Paths) {
      if (!Generic::Simd::Available(path)) continue;
      const int width = Phylo::Pair_Tiles::Block_Width(path);
      std::vector<double> panel(Phylo::Pair_Tiles::Panel_Size(path, p));
      for (Term term : All_Terms) {
        for (int j0 = 0; j0 < n; j0 += width) {
          const int count = std::min(width, n - j0);
          std::vector<Sums> out(static_cast<std::size_t>(n) * static_cast<std::size_t>(count));
          Phylo::Pair_Tiles::Tile_Sums(path, term, m.data(), p, 0.0, 0, n, j0, count, out.data(), panel.data());
          for (int i = 0; i < n; ++i)
            for (int l = 0; l < count; ++l) {
              const Sums want = Plain(term, &m[static_cast<std::size_t>(i) * p],
                                      &m[static_cast<std::size_t>(j0 + l) * p], p, 0.0);
              const Sums got = out[static_cast<std::size_t>(i * count + l)];
              ASSERT_TRUE(Same_Bits(got.Sum, want.Sum) && Same_Bits(got.Second, want.Second))
                  << Generic::Simd::Name(path) << " term " << static_cast<int>(term) << " p " << p
                  << " pair " << i << "," << j0 + l << ": " << got.Sum << " vs " << want.Sum;
            }
        }
      }
    }
  }
}

// Columns are taken a block at a time; each pair's sums must carry over
// from block to block as if there were one: the sum starts from the first
// column's term (a row of -0.0 against positive values sums to -0.0 under
// PRODUCT and MIN) and only the first block starts it. Numbers of columns
// just below, at and above one and two blocks; j blocks that fill a path's
// width and one that does not; the panel exactly as large as asked for.
TEST(PairTiles, SumsCarryOverColumnBlocks) {
  const int n = 21;
  const double threshold = 0.5;
  for (std::size_t columns : {std::size_t{1}, std::size_t{3}, std::size_t{8}}) {
    for (std::size_t p : {columns - 1, columns, columns + 1, 2 * columns - 1, 2 * columns, 2 * columns + 1}) {
      if (p == 0) continue;
      std::vector<double> m = Random_Matrix(n, p, 1000 + 10 * columns + p);
      for (std::size_t k = 0; k < p; ++k) {
        m[k] = -0.0;
        m[p + k] = 1.0 + static_cast<double>(k);
      }
      for (Path path : Generic::Simd::All_Paths) {
        if (!Generic::Simd::Available(path)) continue;
        const int width = Phylo::Pair_Tiles::Block_Width(path);
        std::vector<double> panel(Phylo::Pair_Tiles::Panel_Size(path, p, columns));
        for (Term term : All_Terms)
          for (int j0 : {0, n - 5}) {
            const int count = std::min(width, n - j0);
            std::vector<Sums> out(static_cast<std::size_t>(n) * static_cast<std::size_t>(count));
            Phylo::Pair_Tiles::Tile_Sums(path, term, m.data(), p, threshold, 0, n, j0, count, out.data(),
                                         panel.data(), columns);
            for (int i = 0; i < n; ++i)
              for (int l = 0; l < count; ++l) {
                const Sums want = Plain(term, &m[static_cast<std::size_t>(i) * p],
                                        &m[static_cast<std::size_t>(j0 + l) * p], p, threshold);
                const Sums got = out[static_cast<std::size_t>(i * count + l)];
                ASSERT_TRUE(Same_Bits(got.Sum, want.Sum) && Same_Bits(got.Second, want.Second))
                    << Generic::Simd::Name(path) << " term " << static_cast<int>(term) << " p " << p
                    << " in blocks of " << columns << ", pair " << i << "," << j0 + l << ": " << got.Sum
                    << " vs " << want.Sum << ", " << got.Second << " vs " << want.Second;
              }
          }
      }
    }
  }
}

TEST(PairTiles, RowRangeAndThresholdAreHonoured) {
  const std::size_t p = 5;
  const std::vector<double> m = Random_Matrix(12, p, 99);
  const Path path = Generic::Simd::Best();
  std::vector<double> panel(Phylo::Pair_Tiles::Panel_Size(path, p));
  std::vector<Sums> out(3 * 2);
  Phylo::Pair_Tiles::Tile_Sums(path, Term::EXCL_ABS, m.data(), p, 1.5, 4, 7, 9, 2, out.data(), panel.data());
  for (int i = 4; i < 7; ++i)
    for (int l = 0; l < 2; ++l) {
      const Sums want = Plain(Term::EXCL_ABS, &m[static_cast<std::size_t>(i) * p],
                              &m[static_cast<std::size_t>(9 + l) * p], p, 1.5);
      const Sums got = out[static_cast<std::size_t>((i - 4) * 2 + l)];
      EXPECT_TRUE(Same_Bits(got.Sum, want.Sum) && Same_Bits(got.Second, want.Second));
    }
}

// Pairwise deletion: the masked tiles give each pair the plain loop over
// the columns both rows hold, and the sums of x, y and their squares over
// those columns, each from its first shared column on. NaN in a quarter of
// the cells, one row missing everywhere (its pairs share nothing) and one
// missing only where another row is present (they share nothing either), over column blocks small
// enough to carry the sums across blocks.
TEST(PairTiles, MaskedTilesSumOverTheSharedColumnsOnly) {
  using Phylo::Pair_Tiles::Masked_Sums;
  using Phylo::Pair_Tiles::Pair_Stats;
  const int n = 19;
  const double nan = std::nan("");
  for (std::size_t p : {std::size_t{1}, std::size_t{6}, std::size_t{41}}) {
    std::vector<double> m = Random_Matrix(n, p, 300 + p);
    std::mt19937_64 rng(p);
    for (double& v : m)
      if (rng() % 4 == 0) v = nan;
    for (std::size_t k = 0; k < p; ++k) {
      m[3 * p + k] = nan;
      m[4 * p + k] = k % 2 ? nan : 1.0;
      m[5 * p + k] = k % 2 ? 2.0 : nan;
    }
    for (Path path : Generic::Simd::All_Paths) {
      if (!Generic::Simd::Available(path)) continue;
      const int width = Phylo::Pair_Tiles::Block_Width(path);
      for (std::size_t columns : {std::size_t{4}, Phylo::Pair_Tiles::Column_Block}) {
        std::vector<double> panel(Phylo::Pair_Tiles::Panel_Size(path, p, columns));
        for (Term term : All_Terms)
          for (Pair_Stats stats : {Pair_Stats::NONE, Pair_Stats::SUMS, Pair_Stats::SQUARES})
            for (int j0 = 0; j0 < n; j0 += width) {
              const int count = std::min(width, n - j0);
              std::vector<Masked_Sums> out(static_cast<std::size_t>(n) * static_cast<std::size_t>(count));
              Phylo::Pair_Tiles::Masked_Tile_Sums(path, term, stats, m.data(), p, 0.5, 0, n, j0, count, out.data(),
                                                  panel.data(), columns);
              for (int i = 0; i < n; ++i)
                for (int l = 0; l < count; ++l) {
                  const double* x = &m[static_cast<std::size_t>(i) * p];
                  const double* y = &m[static_cast<std::size_t>(j0 + l) * p];
                  std::vector<double> xs, ys;
                  for (std::size_t k = 0; k < p; ++k)
                    if (!std::isnan(x[k]) && !std::isnan(y[k])) {
                      xs.push_back(x[k]);
                      ys.push_back(y[k]);
                    }
                  const Masked_Sums got = out[static_cast<std::size_t>(i * count + l)];
                  const auto where = [&] {
                    return std::string(Generic::Simd::Name(path)) + " term " + std::to_string(int(term)) + " p " +
                           std::to_string(p) + " pair " + std::to_string(i) + "," + std::to_string(j0 + l);
                  };
                  if (xs.empty()) continue;
                  const Sums want = Plain(term, xs.data(), ys.data(), xs.size(), 0.5);
                  ASSERT_TRUE(Same_Bits(got.Sum, want.Sum) && Same_Bits(got.Second, want.Second))
                      << where() << ": " << got.Sum << " vs " << want.Sum;
                  double sx = xs[0], sy = ys[0], qx = xs[0] * xs[0], qy = ys[0] * ys[0];
                  for (std::size_t k = 1; k < xs.size(); ++k) {
                    sx = sx + xs[k];
                    sy = sy + ys[k];
                    qx = qx + xs[k] * xs[k];
                    qy = qy + ys[k] * ys[k];
                  }
                  if (stats != Pair_Stats::NONE) {
                    ASSERT_TRUE(Same_Bits(got.Sx, sx) && Same_Bits(got.Sy, sy)) << where();
                  }
                  if (stats == Pair_Stats::SQUARES) {
                    ASSERT_TRUE(Same_Bits(got.Qx, qx) && Same_Bits(got.Qy, qy)) << where();
                  }
                }
            }
      }
    }
  }
}

} // namespace
