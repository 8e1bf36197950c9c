// Matching coefficients of discrete characters: a pair of taxa is reduced to
// k, the number of characters whose states differ, out of n.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "distance/distfunc_pairs.hpp"
#include "distance/kernels/pair_tiles.hpp"

namespace Phylo::Distfunc {

const char* Name(Discrete_Formula formula) { return Formulas::Row_Of(formula).Name; }

namespace {

// Number of positions at which x and y hold different states. Each byte
// lane of a vector counts the mismatches at its offset in the blocks of 64
// bytes, up to 255 blocks before the counts are added up; compiled once per
// instruction set below, it becomes that set's widest byte comparison.
[[gnu::always_inline]] inline std::size_t Count_Mismatches_Body(const char* x, const char* y, std::size_t n) {
  constexpr std::size_t Block = 64;
  typedef unsigned char Bytes __attribute__((vector_size(Block)));
  std::size_t count = 0;
  std::size_t t = 0;
  while (t + Block <= n) {
    Bytes lanes{};
    for (int blocks = 0; blocks < 255 && t + Block <= n; ++blocks, t += Block) {
      Bytes a, b;
      std::memcpy(&a, x + t, Block);
      std::memcpy(&b, y + t, Block);
      lanes -= reinterpret_cast<Bytes>(a != b); // a mismatch is -1
    }
    for (std::size_t u = 0; u < Block; ++u) count += lanes[u];
  }
  // The rest eight bytes at a time: a byte of x ^ y that is not 0 gets its
  // high bit set by adding 0x7F to its low seven bits or by itself.
  constexpr std::uint64_t Low = 0x7F7F7F7F7F7F7F7F;
  for (; t + 8 <= n; t += 8) {
    std::uint64_t a, b;
    std::memcpy(&a, x + t, 8);
    std::memcpy(&b, y + t, 8);
    const std::uint64_t z = a ^ b;
    count += static_cast<std::size_t>(__builtin_popcountll((((z & Low) + Low) | z) & ~Low));
  }
  for (; t < n; ++t) count += static_cast<std::size_t>(x[t] != y[t]);
  return count;
}

std::size_t Count_Mismatches_Plain(const char* x, const char* y, std::size_t n) {
  return Count_Mismatches_Body(x, y, n);
}

using Counter = std::size_t (*)(const char*, const char*, std::size_t);

#if defined(__x86_64__)
[[gnu::target("avx2,popcnt")]] std::size_t Count_Mismatches_Avx2(const char* x, const char* y, std::size_t n) {
  return Count_Mismatches_Body(x, y, n);
}
#if !defined(__clang__)
// clang 14's backend fails on this function ("Cannot select" a 512-bit
// compare): clang builds count with AVX2 on the AVX-512 path.
[[gnu::target("avx512bw,popcnt")]] std::size_t Count_Mismatches_Avx512(const char* x, const char* y,
                                                                        std::size_t n) {
  return Count_Mismatches_Body(x, y, n);
}
#endif
#endif

// The counter of the path the distance routines take (tests choose it).
Counter Mismatch_Counter() {
#if defined(__x86_64__)
  using Phylo::Pair_Tiles::Path;
  switch (Phylo::Pair_Tiles::Current_Path()) {
  case Path::AVX512:
#if !defined(__clang__)
    if (__builtin_cpu_supports("avx512bw")) return Count_Mismatches_Avx512;
#endif
    [[fallthrough]];
  case Path::AVX2: return Count_Mismatches_Avx2;
  case Path::SCALAR:
  case Path::VECTOR: break;
  }
#endif
  return Count_Mismatches_Plain;
}

// The operation order of each form is fixed so that results are identical
// from run to run and machine to machine; MATCHING multiplies by the
// reciprocal and may therefore end one unit in the last place below k / n.
double Distance(Discrete_Formula formula, double k, double n, double inv_n) {
  switch (formula) {
  case Discrete_Formula::HAMANN: return 0.5 - ((n - 2.0 * k) * 0.5) / n;
  case Discrete_Formula::MATCHING: return k * inv_n;
  case Discrete_Formula::ROGERS_TANIMOTO: return (k + k) / (n + k);
  case Discrete_Formula::SOKAL_SNEATH_1: return k / ((n + n) - k);
  case Discrete_Formula::SOKAL_SNEATH_2: return k / (n - k);
  }
  return 0.0;
}

[[noreturn]] void Fail(Discrete_Formula formula, int i, int j, double value, std::size_t k, std::size_t n) {
  const std::string reason = k == n ? "k = n = " + std::to_string(n) + ": the taxa differ at every character"
                                    : "k = " + std::to_string(k) + ", n = " + std::to_string(n);
  throw Pair_Range_Error(Detail::Range_Message(Name(formula), value, reason), i, j);
}

} // namespace

Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula) {
  Discrete_Chars::Basic::Require_Aligned(matrix, "discrete distances");

  const std::size_t n = static_cast<std::size_t>(matrix.Row_Length(0));
  const double inv_n = 1.0 / static_cast<double>(n);
  if (!Detail::In_Distance_Range(inv_n))
    throw Errors::Constraint_Error("range check failed: 1 / n is infinite (n = 0: the rows have no characters)");

  std::vector<const char*> rows;
  rows.reserve(static_cast<std::size_t>(matrix.Rows()));
  for (int i = 0; i < matrix.Rows(); ++i) rows.push_back(matrix.Row(i).data());
  auto row = [&](int taxon) { return rows[static_cast<std::size_t>(taxon)]; };
  const Counter Count_Mismatches = Mismatch_Counter();

  return Detail::Fill_Pairs(
      0, matrix.Rows() - 1,
      [&](int i, int j) {
        const std::size_t k = Count_Mismatches(row(i), row(j), n);
        return Distance(formula, static_cast<double>(k), static_cast<double>(n), inv_n);
      },
      [&](int i, int j, double value) { Fail(formula, i, j, value, Count_Mismatches(row(i), row(j), n), n); });
}

} // namespace Phylo::Distfunc
