#pragma once
// Fixed-point formatting of doubles, correctly rounded from the binary value
// (ties to even), byte for byte what std::to_chars(..., fixed, aft) writes,
// but several times faster for the common case of 8 decimals: the value is
// m * 2^e, so round(value * 10^8) is an exact integer division of m * 10^8
// by a power of two, which 128-bit arithmetic does without error.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "format/fixed_format_kernels.hpp"

namespace Karvel::Format {

namespace Fixed_Detail {

// "0000".."9999", four digits at a time.
struct Four_Digit_Table {
  char Digits[10000][4];
  constexpr Four_Digit_Table() : Digits{} {
    for (int v = 0; v < 10000; ++v) {
      Digits[v][0] = static_cast<char>('0' + v / 1000);
      Digits[v][1] = static_cast<char>('0' + v / 100 % 10);
      Digits[v][2] = static_cast<char>('0' + v / 10 % 10);
      Digits[v][3] = static_cast<char>('0' + v % 10);
    }
  }
};
inline constexpr Four_Digit_Table Four_Digits{};

// Writes exactly eight digits of v (< 10^8).
inline void Put_Eight(char* out, std::uint32_t v) {
  std::memcpy(out, Four_Digits.Digits[v / 10000], 4);
  std::memcpy(out + 4, Four_Digits.Digits[v % 10000], 4);
}

} // namespace Fixed_Detail

// A finite double below 2^52 in magnitude, rounded to 8 decimals (ties to
// even): sign, integer part and the eight decimals as an integer.
struct Fixed8 {
  bool Negative;
  std::uint64_t Integer_Part;
  std::uint32_t Decimals;
};

// False for values the exact integer method does not take (magnitudes of
// 2^52 and more, infinities, not-a-numbers).
inline bool Decompose_Fixed8(double value, Fixed8& result) {
  // Most values are small: t = |value| * 10^8 below 2^40 is within 2^-14 of
  // the exact product, so unless its fraction lies within 2^-13 of one half
  // it rounds to the same integer as the exact product does. The exact
  // method below settles the rest.
  const double magnitude = value < 0.0 ? -value : value;
  if (magnitude < 1e4) {
    const double t = magnitude * 1e8;
    const double whole = __builtin_floor(t);
    const double fraction = t - whole; // exact
    if (fraction < 0.5 - 0x1p-13 || fraction > 0.5 + 0x1p-13) {
      const std::uint64_t q = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1u : 0u);
      result.Negative = __builtin_signbit(value) != 0;
      result.Integer_Part = q / 100000000u;
      result.Decimals = static_cast<std::uint32_t>(q % 100000000u);
      return true;
    }
  }
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased >= 1075) return false;
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
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
  result.Negative = (bits >> 63) != 0;
  if (q <= UINT64_MAX) {
    const std::uint64_t q64 = static_cast<std::uint64_t>(q);
    result.Integer_Part = q64 / 100000000u;
    result.Decimals = static_cast<std::uint32_t>(q64 % 100000000u);
  } else {
    result.Integer_Part = static_cast<std::uint64_t>(q / 100000000u);
    result.Decimals = static_cast<std::uint32_t>(q % 100000000u);
  }
  return true;
}

// Writes the decomposed value, sign and integer part right-aligned in `fore`
// characters (a longer integer part widens the field). Needs 40 characters.
inline char* Put_Fixed8(char* out, const Fixed8& v, int fore) {
  if (v.Integer_Part < 10000 && !v.Negative && fore == 2) {
    // Without branches on the number of digits, which vary from value to
    // value: "    0012" with the leading zeros blanked, of which the last
    // max(2, digits) characters are the field.
    const auto n = static_cast<std::uint32_t>(v.Integer_Part);
    char field[12] = {' ', ' ', ' ', ' '};
    std::memcpy(field + 4, Fixed_Detail::Four_Digits.Digits[n], 4);
    field[4] = n < 1000 ? ' ' : field[4];
    field[5] = n < 100 ? ' ' : field[5];
    field[6] = n < 10 ? ' ' : field[6];
    const int width = 2 + (n >= 100 ? 1 : 0) + (n >= 1000 ? 1 : 0);
    std::memcpy(out, field + 8 - width, 4); // the bytes past the field are overwritten below
    out += width;
    *out = '.';
    Fixed_Detail::Put_Eight(out + 1, v.Decimals);
    return out + 9;
  }
  // Digits of the integer part, last first; distances mostly have one.
  char digits[20];
  int count = 0;
  std::uint64_t n = v.Integer_Part;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  // Short loops rather than memset/memcpy: these are a few bytes each.
  for (int pad = fore - count - (v.Negative ? 1 : 0); pad > 0; --pad) *out++ = ' ';
  if (v.Negative) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out++ = '.';
  Fixed_Detail::Put_Eight(out, v.Decimals);
  return out + 8;
}

// The shortcut of Decompose_Fixed8 for 1 to 7 decimals, where it holds as
// well (|value| * 10^aft stays below 2^40): writes the value and returns the
// end, or returns null for a value it does not settle.
inline char* Put_Fixed_Short(char* out, double value, int aft) {
  static constexpr double Scale[8] = {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};
  static constexpr std::uint64_t Divisor[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
  const double magnitude = value < 0.0 ? -value : value;
  if (!(magnitude < 1e4)) return nullptr;
  const double t = magnitude * Scale[aft];
  const double whole = __builtin_floor(t);
  const double fraction = t - whole; // exact
  if (!(fraction < 0.5 - 0x1p-13 || fraction > 0.5 + 0x1p-13)) return nullptr;
  const std::uint64_t q = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1u : 0u);
  std::uint64_t integer = q / Divisor[aft], decimals = q % Divisor[aft];
  if (__builtin_signbit(value)) *out++ = '-';
  char digits[8];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + integer % 10);
    integer /= 10;
  } while (integer != 0);
  while (count > 0) *out++ = digits[--count];
  *out = '.';
  for (int k = aft; k > 0; --k) {
    out[k] = static_cast<char>('0' + decimals % 10);
    decimals /= 10;
  }
  return out + aft + 1;
}

// Writes `value` with `aft` digits after the point into [first, last) and
// returns the end of what was written (as std::to_chars does). `last - first`
// must be large enough for the value (350 characters always are).
inline char* Format_Fixed(char* first, char* last, double value, int aft) {
  if (aft >= 1 && aft <= 7)
    if (char* const end = Put_Fixed_Short(first, value, aft)) return end;
  Fixed8 v;
  if (aft != 8 || !Decompose_Fixed8(value, v))
    return std::to_chars(first, last, value, std::chars_format::fixed, aft).ptr;
  return Put_Fixed8(first, v, 0);
}

} // namespace Karvel::Format
