#pragma once
// Fixed-point formatting of doubles, correctly rounded from the binary value
// (ties to even), byte for byte what std::to_chars(..., fixed, aft) writes,
// but several times faster for the common case of 8 decimals: the value is
// m * 2^e, so round(value * 10^8) is an exact integer division of m * 10^8
// by a power of two, which 128-bit arithmetic does without error.

#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace Generic {

namespace Fixed_Detail {

// "00".."99", for two digits at a time.
inline constexpr char Digit_Pairs[201] =
    "0001020304050607080910111213141516171819"
    "2021222324252627282930313233343536373839"
    "4041424344454647484950515253545556575859"
    "6061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes exactly eight digits of v (< 10^8).
inline void Put_Eight(char* out, std::uint32_t v) {
  const std::uint32_t hi = v / 10000, lo = v % 10000;
  std::memcpy(out, Digit_Pairs + 2 * (hi / 100), 2);
  std::memcpy(out + 2, Digit_Pairs + 2 * (hi % 100), 2);
  std::memcpy(out + 4, Digit_Pairs + 2 * (lo / 100), 2);
  std::memcpy(out + 6, Digit_Pairs + 2 * (lo % 100), 2);
}

} // namespace Fixed_Detail

// Writes `value` with `aft` digits after the point into [first, last) and
// returns the end of what was written (as std::to_chars does). `last - first`
// must be large enough for the value (350 characters always are).
inline char* Format_Fixed(char* first, char* last, double value, int aft) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  // Integers of 2^52 and more, infinities and not-a-numbers are rare in
  // distance output: the library does them.
  if (aft != 8 || biased >= 1075)
    return std::to_chars(first, last, value, std::chars_format::fixed, aft).ptr;

  const std::uint64_t m = biased == 0 ? fraction : (fraction | (std::uint64_t{1} << 52));
  const int shift = biased == 0 ? 1074 : 1075 - biased; // value = m / 2^shift, shift >= 1
  using u128 = unsigned __int128;
  u128 q = 0;
  if (shift < 128) {
    const u128 scaled = static_cast<u128>(m) * 100000000u; // < 2^80
    q = scaled >> shift;
    const u128 rest = scaled - (q << shift);
    const u128 half = static_cast<u128>(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  } // else m * 10^8 < 2^80 <= 2^(shift-1): rounds to 0

  char* out = first;
  if (bits >> 63) *out++ = '-';
  std::uint64_t integer_part;
  std::uint32_t decimals;
  if (q <= UINT64_MAX) {
    const std::uint64_t q64 = static_cast<std::uint64_t>(q);
    integer_part = q64 / 100000000u;
    decimals = static_cast<std::uint32_t>(q64 % 100000000u);
  } else {
    integer_part = static_cast<std::uint64_t>(q / 100000000u);
    decimals = static_cast<std::uint32_t>(q % 100000000u);
  }
  if (integer_part < 10) {
    *out++ = static_cast<char>('0' + integer_part);
  } else {
    out = std::to_chars(out, last, integer_part).ptr;
  }
  *out++ = '.';
  Fixed_Detail::Put_Eight(out, decimals);
  return out + 8;
}

} // namespace Generic
