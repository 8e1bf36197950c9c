// Threads and vector paths change who computes a distance, never its bits:
// every path on every thread count gives the block of the scalar path on one
// thread, and a failing matrix gives the same error for the same first pair.
// Nor do they change the text of the distances written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "write/print.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using Phylo::Distfunc::Binary_Formula;
using Phylo::Distfunc::Discrete_Formula;
using Phylo::Distfunc::Real_Formula;
using Generic::Simd::Path;

// The block's bytes, or the error it raised.
template <class Compute>
std::string Outcome(Compute compute) {
  try {
    Generic::Square_Block b = compute();
    return std::string(reinterpret_cast<const char*>(b.Data()),
                       static_cast<std::size_t>(b.Size()) * static_cast<std::size_t>(b.Size()) * sizeof(double));
  } catch (const Errors::Error& e) {
    std::string what = std::string(e.Name()) + ": " + e.what();
    if (auto* pair = dynamic_cast<const Phylo::Distfunc::Pair_Taxa*>(&e))
      what += " @" + std::to_string(pair->I) + "," + std::to_string(pair->J);
    return what;
  }
}

Phylo::Real_Matrix Random_Real(int taxa, int characters, unsigned seed, bool with_negatives) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_real_distribution<double> u(0.0, 50.0);
  Phylo::Real_Matrix m;
  for (int t = 0; t < taxa; ++t) {
    for (int c = 0; c < characters; ++c) {
      const int k = kind(rng);
      double v = k < 3 ? 0.0 : (k < 5 ? static_cast<double>(static_cast<int>(u(rng))) : u(rng));
      if (with_negatives && k == 9) v = -v;
      m.Push(v);
    }
    m.Close_Row();
  }
  return m;
}

// Every formula of the table, once (chi square and Spearman compute as
// Euclidean and Pearson): a formula added as a row is checked here as well.
std::vector<Real_Formula> Real_Formulae() {
  std::vector<Real_Formula> all;
  for (const auto& row : Phylo::Distfunc::Formulas::Real)
    if (!row.Implied) all.push_back(row.Value);
  return all;
}

TEST(ParallelIdentity, RealFormulaeOnEveryPathAndThreadCount) {
  Test_Support::Settings_Scope settings;
  // Positive data for all formulae; data with negatives and an all-zero row
  // make several of them fail, and the failure must not depend on the path.
  std::vector<Phylo::Real_Matrix> matrices;
  matrices.push_back(Random_Real(45, 37, 1, false));
  matrices.push_back(Random_Real(40, 9, 2, true));
  Phylo::Real_Matrix zero_row = Random_Real(33, 5, 3, false);
  for (double& v : zero_row.Row(20)) v = 0.0;
  matrices.push_back(std::move(zero_row));

  int failures = 0;
  for (const Phylo::Real_Matrix& m : matrices)
    for (Real_Formula f : Real_Formulae()) {
      settings.Threads(1);
      settings.Path(Path::SCALAR);
      const std::string want = Outcome([&] { return Phylo::Distfunc::Distances(m, f, 0.0); });
      failures += want.find("_ERROR: ") != std::string::npos ? 1 : 0;
      for (Path path : Generic::Simd::All_Paths) {
        if (!Generic::Simd::Available(path)) continue;
        settings.Path(path);
        for (int threads : {1, 2, 7}) {
          settings.Threads(threads);
          ASSERT_EQ(Outcome([&] { return Phylo::Distfunc::Distances(m, f, 0.0); }), want)
              << Phylo::Distfunc::Name(f) << " on " << Generic::Simd::Name(path) << " with " << threads
              << " threads";
        }
      }
    }
  EXPECT_GE(failures, 10);
}

// Pairwise deletion: NaN in a fifth of the cells, negatives (so that some
// formulas fail), a row missing everywhere but column 0 and one present
// only there (the pair shares nothing), over more characters than one column
// block. Every path and thread count gives the scalar path's block on one
// thread or its error, with undefined pairs as NaN too; so do blocks of rows
// of every part (the streamed runs and --part/--rows), whose rows are those
// of the block; and on a matrix without NaN the rule changes no bit.
TEST(ParallelIdentity, PairwiseDeletionOnEveryPathThreadCountAndRowBlock) {
  Test_Support::Settings_Scope settings;
  using Phylo::Missing_Rule;
  const int taxa = 29, characters = 4100;
  Phylo::Real_Matrix m = Random_Real(taxa, characters, 8, true);
  std::mt19937 rng(9);
  for (int t = 0; t < taxa; ++t)
    for (double& v : m.Row(t))
      if (rng() % 5 == 0) v = std::numeric_limits<double>::quiet_NaN();
  for (int c = 0; c < characters; ++c) {
    m.Row(11)[static_cast<std::size_t>(c)] = c == 0 ? 3.0 : std::numeric_limits<double>::quiet_NaN();
    m.Row(17)[static_cast<std::size_t>(c)] = c == 0 ? std::numeric_limits<double>::quiet_NaN() : 2.0 + c % 7;
  }
  const Phylo::Real_Matrix positive = [&] {
    Phylo::Real_Matrix copy = m;
    for (int t = 0; t < taxa; ++t)
      for (double& v : copy.Row(t)) v = std::fabs(v);
    return copy;
  }();
  const Phylo::Real_Matrix complete = Random_Real(31, 13, 10, false);

  for (Real_Formula f : Real_Formulae()) {
    const auto whole = [&](const Phylo::Real_Matrix& matrix, Missing_Rule rule, bool as_nan) {
      return Outcome([&] {
        Phylo::Distfunc::Undefined_Pairs undefined;
        return Phylo::Distfunc::Distances(matrix, f, 0.0, as_nan ? &undefined : nullptr, rule);
      });
    };
    settings.Threads(1);
    settings.Path(Path::SCALAR);
    ASSERT_EQ(whole(complete, Missing_Rule::PAIRWISE, false), whole(complete, Missing_Rule::ERROR, false))
        << Phylo::Distfunc::Name(f);
    for (const Phylo::Real_Matrix* matrix : {const_cast<const Phylo::Real_Matrix*>(&m), &positive})
      for (bool as_nan : {false, true}) {
        settings.Threads(1);
        settings.Path(Path::SCALAR);
        const std::string want = whole(*matrix, Missing_Rule::PAIRWISE, as_nan);
        for (Path path : Generic::Simd::All_Paths) {
          if (!Generic::Simd::Available(path)) continue;
          settings.Path(path);
          for (int threads : {1, 2, 7}) {
            settings.Threads(threads);
            ASSERT_EQ(whole(*matrix, Missing_Rule::PAIRWISE, as_nan), want)
                << Phylo::Distfunc::Name(f) << " on " << Generic::Simd::Name(path) << " with " << threads
                << " threads";
          }
        }
        if (!as_nan || matrix != &positive) continue;
        // Rows in blocks of 1, 5 and 29, from the whole square of NaN
        // pairs: every part shows its own entries of the whole.
        Phylo::Distfunc::Undefined_Pairs undefined;
        const Generic::Square_Block square = Phylo::Distfunc::Distances(*matrix, f, 0.0, &undefined,
                                                                         Missing_Rule::PAIRWISE);
        const auto rows = Phylo::Distfunc::Row_Distances_Of(*matrix, f, 0.0, Missing_Rule::PAIRWISE);
        for (Phylo::Row_Part part : {Phylo::Row_Part::ALL, Phylo::Row_Part::BEFORE, Phylo::Row_Part::AFTER})
          for (int block : {1, 5, taxa})
            for (int first = 0; first < taxa; first += block) {
              const int past = std::min(taxa, first + block);
              std::vector<double> got(static_cast<std::size_t>((past - first) * taxa), -1.0);
              Phylo::Distfunc::Undefined_Pairs noted;
              rows->Compute(first, past, part, Phylo::Distfunc::Pair_Order::TAXA, got.data(), &noted);
              for (int i = first; i < past; ++i)
                for (int j = 0; j < taxa; ++j) {
                  const bool shown = i == j || part == Phylo::Row_Part::ALL ||
                                     (part == Phylo::Row_Part::BEFORE ? j < i : j > i);
                  if (!shown) continue;
                  const double value = got[static_cast<std::size_t>((i - first) * taxa + j)];
                  const double want = square(i, j);
                  ASSERT_EQ(std::memcmp(&value, &want, sizeof value), 0)
                      << Phylo::Distfunc::Name(f) << " part " << static_cast<int>(part) << " block " << block
                      << " pair " << i << "," << j;
                }
            }
      }
  }
}

// Spearman with missing values ranks every pair afresh over the columns it
// shares: any thread count and any block of rows gives the whole matrix's
// bits, and a pair of complete rows what the complete ranks give it.
TEST(ParallelIdentity, SpearmanRankedPairByPair) {
  Test_Support::Settings_Scope settings;
  using Phylo::Real_Chars::Transformation;
  const int taxa = 23, complete_from = 20;
  Phylo::Real_Matrix m = Random_Real(taxa, 40, 3, false);
  std::mt19937 rng(4);
  for (int t = 0; t < complete_from; ++t)
    for (double& v : m.Row(t))
      if (rng() % 4 == 0) v = std::numeric_limits<double>::quiet_NaN();
  for (Transformation ranking : {Transformation::RANKS, Transformation::AVERAGE_RANKS}) {
    Phylo::Distfunc::Undefined_Pairs undefined;
    const auto ranked_by = [&](int threads) {
      settings.Threads(threads);
      return Outcome([&] { return Phylo::Distfunc::Pairwise_Ranked_Distances(m, ranking, &undefined); });
    };
    ASSERT_EQ(ranked_by(1), ranked_by(3));
    const Generic::Square_Block whole = Phylo::Distfunc::Pairwise_Ranked_Distances(m, ranking, &undefined);
    const auto rows = Phylo::Distfunc::Pairwise_Ranked_Row_Distances_Of(m, ranking);
    for (int first = 0; first < taxa; first += 4) {
      const int past = std::min(taxa, first + 4);
      std::vector<double> got(static_cast<std::size_t>((past - first) * taxa));
      rows->Compute(first, past, Phylo::Row_Part::ALL, Phylo::Distfunc::Pair_Order::TAXA, got.data(), &undefined);
      for (int i = first; i < past; ++i)
        for (int j = 0; j < taxa; ++j) {
          const double want = whole(i, j);
          ASSERT_EQ(std::memcmp(&got[static_cast<std::size_t>((i - first) * taxa + j)], &want, sizeof want), 0)
              << i << "," << j;
        }
    }
    Phylo::Real_Matrix ranked;
    for (int t = complete_from; t < taxa; ++t) ranked.Append_Row(m.Row(t));
    Phylo::Real_Chars::Transform_Matrix(ranked, ranking);
    const Generic::Square_Block expected = Phylo::Distfunc::Distances(ranked, Real_Formula::PEARSON, 0.0);
    for (int i = complete_from; i < taxa; ++i)
      for (int j = complete_from; j < taxa; ++j)
        EXPECT_EQ(whole(i, j), expected(i - complete_from, j - complete_from)) << i << "," << j;
  }
}

TEST(ParallelIdentity, DiscreteAndBinaryOnEveryPathAndThreadCount) {
  Test_Support::Settings_Scope settings;
  std::mt19937 rng(5);
  Phylo::Disc_Matrix disc;
  Phylo::Binary_Matrix bin;
  Phylo::Binary_Matrix known; // no unknowns: only a is counted
  for (int t = 0; t < 70; ++t) {
    for (int c = 0; c < 130; ++c) {
      disc.Push("ACGT-?"[rng() % 6]);
      const unsigned r = rng() % 10;
      bin.Push(r < 4 ? Phylo::Binary::PRESENCE : (r < 9 ? Phylo::Binary::ABSENCE : Phylo::Binary::UNKNOWN));
      known.Push(r < 4 ? Phylo::Binary::PRESENCE : Phylo::Binary::ABSENCE);
    }
    disc.Close_Row();
    bin.Close_Row();
    known.Close_Row();
  }
  // A row equal to an earlier one makes KULCZYNSKI and SOKAL_SNEATH_2 fail
  // far from the first pair.
  Phylo::Disc_Matrix twin = disc;
  for (int c = 0; c < 130; ++c) twin.Row(50)[static_cast<std::size_t>(c)] = twin.Row(10)[static_cast<std::size_t>(c)] == 'A' ? 'C' : 'A';
  Phylo::Binary_Matrix same = bin;
  for (int c = 0; c < 130; ++c) same.Row(60)[static_cast<std::size_t>(c)] = same.Row(30)[static_cast<std::size_t>(c)];

  // The scalar path on one thread is the reference for every other path
  // and thread count.
  auto compare = [&](auto compute, const char* name) {
    settings.Path(Path::SCALAR);
    settings.Threads(1);
    const std::string want = Outcome(compute);
    for (Path path : Generic::Simd::All_Paths) {
      if (!Generic::Simd::Available(path)) continue;
      settings.Path(path);
      for (int threads : {1, 2, 7}) {
        settings.Threads(threads);
        ASSERT_EQ(Outcome(compute), want) << name << " on " << Generic::Simd::Name(path) << ", " << threads
                                          << " threads";
      }
    }
  };
  for (Discrete_Formula f : {Discrete_Formula::HAMANN, Discrete_Formula::MATCHING, Discrete_Formula::ROGERS_TANIMOTO,
                             Discrete_Formula::SOKAL_SNEATH_1, Discrete_Formula::SOKAL_SNEATH_2})
    for (const Phylo::Disc_Matrix* m : {&disc, &twin})
      compare([&] { return Phylo::Distfunc::Distances(*m, f); }, Phylo::Distfunc::Name(f));
  for (int f = 0; f <= static_cast<int>(Binary_Formula::FAGER); ++f)
    for (const Phylo::Binary_Matrix* m : {&bin, &same, &known}) {
      const auto formula = static_cast<Binary_Formula>(f);
      compare([&] { return Phylo::Distfunc::Distances(*m, formula); }, Phylo::Distfunc::Name(formula));
    }
}

// The batch writers of the vector paths leave some values to the general
// writer (ties, negatives, 10^4 and more, not numbers) in the middle of
// their groups; the text must be the scalar path's on one thread.
TEST(ParallelIdentity, DistancesAreWrittenAlikeOnEveryPathAndThreadCount) {
  Test_Support::Settings_Scope settings;
  constexpr int Taxa = 300;
  Phylo::Taxon_Labels labels;
  for (int t = 0; t < Taxa; ++t) labels.push_back("t" + std::to_string(t));
  Phylo::Squared block(std::move(labels));
  block.Matrix = Generic::Square_Block(0, Taxa - 1);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0.0, 20.0);
  const double odd[] = {-0.0, 0.123456785, 9.999999995, 99.999999995, 9999.999999995, 1e4, 3.5e7, -2.25,
                        std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  for (int i = 0; i < Taxa; ++i)
    for (int j = 0; j < Taxa; ++j) {
      const unsigned r = rng() % 40;
      block.Matrix(i, j) = r < sizeof odd / sizeof odd[0] ? odd[r] : std::ldexp(u(rng), static_cast<int>(r % 9) - 4);
    }
  auto written = [&] {
    std::string text;
    {
      Text_IO::Text_Output out(&text);
      Phylo::Print::Put(out, block, Phylo::Print::Dist_Output_Format::EXTENDED_PHYLIP, Phylo::Print::Default_Fore,
                        Phylo::Print::Default_Aft, Phylo::Print::Default_Exp);
    }
    return text;
  };
  settings.Path(Path::SCALAR);
  settings.Threads(1);
  const std::string want = written();
  for (Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    settings.Path(path);
    for (int threads : {1, 3}) {
      settings.Threads(threads);
      const std::string got = written();
      ASSERT_TRUE(got == want) << Generic::Simd::Name(path) << " on " << threads << " threads: " << got.size()
                               << " bytes, scalar " << want.size();
    }
  }
}

} // namespace
