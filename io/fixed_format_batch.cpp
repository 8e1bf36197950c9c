// The distance layout, eight values at a time: the rounding test and the
// digits of every lane are computed in vector registers, and only the
// stores of the variable-length fields are done one value at a time.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "io/fixed_format.hpp"

namespace Generic {

namespace {

template <int L>
struct Lanes;
#define KARVEL_LANES(N)                                                     \
  template <>                                                               \
  struct Lanes<N> {                                                         \
    typedef double D __attribute__((vector_size(N * 8)));                   \
    typedef long long I __attribute__((vector_size(N * 8)));                \
    typedef unsigned long long U __attribute__((vector_size(N * 8)));       \
  };
KARVEL_LANES(4)
KARVEL_LANES(8)
#undef KARVEL_LANES

// Compiled once per instruction set below. The rounding is the shortcut of
// Decompose_Fixed8: a group with any value it does not settle (near a tie,
// negative, 10^4 or more, not a number) is left to the caller.
template <int L>
[[gnu::always_inline]] inline std::size_t Put_Tabbed(char*& out_ref, const double* values, std::size_t count) {
  using VD = typename Lanes<L>::D;
  using VI = typename Lanes<L>::I;
  using VU = typename Lanes<L>::U;
  char* out = out_ref;
  std::size_t k = 0;
  for (; k + L <= count; k += L) {
    VD v;
    std::memcpy(&v, values + k, sizeof v);
    v = v + 0.0; // -0.0 is written as 0
    VI ok = (v >= 0.0) & (v < 1e4);
    VD t = v * 1e8;
    t = ok ? t : VD{}; // no conversion of what does not fit
    const VI whole = __builtin_convertvector(t, VI);
    const VD fraction = t - __builtin_convertvector(whole, VD); // exact
    ok &= (fraction < 0.5 - 0x1p-13) | (fraction > 0.5 + 0x1p-13);
    bool all = true;
    for (int l = 0; l < L; ++l) all &= ok[l] != 0;
    if (!all) break;
    const VI q = whole - (VI)(fraction > 0.5); // a true comparison is -1
    // q / 10^8 through doubles: for q < 2^40 the product with the double
    // nearest 10^-8 (a little above it) rounds to k on an exact multiple
    // k * 10^8 and stays below k + 1 otherwise, so truncation is exact.
    const VI integer = __builtin_convertvector(__builtin_convertvector(q, VD) * 1e-8, VI);
    const VI decimals = q - integer * 100000000;
    // Eight digits, the first in the lowest byte: halves of four digits,
    // quarters of two, bytes of one (the multipliers divide exactly in range).
    const VU d = (VU)decimals;
    const VU high = (d * 109951163) >> 40; // d / 10^4 for d < 10^8
    VU x = high | ((d - high * 10000) << 32);
    const VU hundreds = ((x * 10486) >> 20) & 0x0000007F0000007FULL;
    x = hundreds | ((x - hundreds * 100) << 16);
    const VU tens = ((x * 103) >> 10) & 0x000F000F000F000FULL;
    x = (tens | ((x - tens * 10) << 8)) + 0x3030303030303030ULL;
    // Four digits of the integer part, the tens blanked below 10; the field
    // is its last max(2, digits) characters.
    VU y = (VU)integer;
    const VU y_hundreds = ((y * 10486) >> 20) & 0x7F;
    y = y_hundreds | ((y - y_hundreds * 100) << 16);
    const VU y_tens = ((y * 103) >> 10) & 0x000F000F;
    y = (y_tens | ((y - y_tens * 10) << 8)) + 0x30303030;
    y = integer < 10 ? ((y & ~0x00FF0000ULL) | 0x00200000ULL) : y;
    const VU width = 2 - (VU)(integer >= 100) - (VU)(integer >= 1000);
    const VU head = '\t' | ((y >> (8 * (4 - width))) << 8) | ((VU{} + '.') << (8 * (width + 1)));
    for (int l = 0; l < L; ++l) {
      const std::uint64_t head_l = head[l], digits_l = x[l];
      std::memcpy(out, &head_l, 8);
      std::memcpy(out + width[l] + 2, &digits_l, 8); // overwrites the head's zero bytes
      out += width[l] + 10;
    }
  }
  out_ref = out;
  return k;
}

#if defined(__x86_64__)
[[gnu::target("avx512f,avx512dq")]] std::size_t Put_Tabbed_Avx512(char*& out, const double* values,
                                                                   std::size_t count) {
  return Put_Tabbed<8>(out, values, count);
}
[[gnu::target("avx2")]] std::size_t Put_Tabbed_Avx2(char*& out, const double* values, std::size_t count) {
  return Put_Tabbed<4>(out, values, count);
}
#endif

} // namespace

Tabbed_Writer Tabbed_Fixed8_Writer(int lanes) {
#if defined(__x86_64__)
  if (lanes == 8 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"))
    return Put_Tabbed_Avx512;
  if (lanes == 4 && __builtin_cpu_supports("avx2")) return Put_Tabbed_Avx2;
#endif
  (void)lanes;
  return nullptr;
}

Tabbed_Writer Best_Tabbed_Fixed8_Writer() {
  static const Tabbed_Writer best = [] {
    for (int lanes : {8, 4})
      if (Tabbed_Writer w = Tabbed_Fixed8_Writer(lanes)) return w;
    return Tabbed_Writer{nullptr};
  }();
  return best;
}

} // namespace Generic
