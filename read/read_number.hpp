#pragma once
// The scanner of real numbers as they stand in matrix files, shared by the
// readers of every layout so that a number reads to the same double
// wherever it stands. Inline: it runs once per value of a matrix.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <system_error>

namespace Karvel::Phylo::Read::Number_Text {

constexpr bool Is_Digit(int c) { return c >= '0' && c <= '9'; }

enum class Scan { NUMBER, NOT_A_NUMBER, NEED_MORE };

// Decimals of at most 19 digits without an exponent whose digits, read as
// one integer m, stay at or below 2^53: m and 10^k (k <= 19) are then both
// exact doubles, so the one correctly rounded division m / 10^k is the
// nearest double to the text, as from_chars would give. Most matrix values
// look like that, and the division is much cheaper than a general parse.
constexpr double Powers_Of_Ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};

// Checks the shape of a real number at the start of p[0..n):
//   [+-] (digits [. digits] | . digits) [(e|E) [+-] digits]
// `complete` says that the input ends after p[n-1]; otherwise a number that
// runs up to the end of the text needs more text to be judged. A point must
// be followed by a digit, and so must an exponent letter.
// Sets `length` to the number's length and, when the shortcut above
// applies, `exact` to true and `value` to the number.
inline Scan Scan_Real(const char* p, std::size_t n, bool complete, std::size_t& length, bool& exact, double& value) {
  std::size_t i = 0;
  // -1 where the input ends, -2 where more text must be seen first
  auto at = [&](std::size_t k) -> int {
    if (k < n) return static_cast<unsigned char>(p[k]);
    return complete ? -1 : -2;
  };
  // Wraps around beyond 19 digits; then only the count is used.
  std::uint64_t mantissa = 0;
  auto digits = [&] {
    const std::size_t start = i;
    for (; i < n && Is_Digit(p[i]); ++i) mantissa = mantissa * 10 + static_cast<unsigned>(p[i] - '0');
    return i - start;
  };
  const bool negative = at(i) == '-';
  if (at(i) == '+' || at(i) == '-') ++i;
  const std::size_t whole = digits();
  std::size_t fraction = 0;
  int c = at(i);
  if (c == -2) return Scan::NEED_MORE;
  if (c == '.') {
    ++i;
    fraction = digits();
    c = at(i);
    if (c == -2) return Scan::NEED_MORE;
    if (fraction == 0) return Scan::NOT_A_NUMBER;
  } else if (whole == 0) {
    return Scan::NOT_A_NUMBER;
  }
  exact = false;
  if (c == 'e' || c == 'E') {
    ++i;
    if (at(i) == '+' || at(i) == '-') ++i;
    const std::size_t start = i;
    while (i < n && Is_Digit(p[i])) ++i;
    if (at(i) == -2) return Scan::NEED_MORE;
    if (i == start) return Scan::NOT_A_NUMBER;
  } else if (whole + fraction <= 19 && mantissa <= (std::uint64_t{1} << 53)) {
    exact = true;
    value = static_cast<double>(mantissa) / Powers_Of_Ten[fraction];
    if (negative) value = -value;
  }
  length = i;
  return Scan::NUMBER;
}

// For a text that converts out of range: true when it is too small for a
// double (it rounds to zero), false when too large. The decimal exponent of
// its leading significant digit tells, since every number within a few
// hundred powers of ten of 1 is in range.
inline bool Is_Tiny(const char* first, const char* last) {
  const char* p = first;
  std::int64_t magnitude = 0;
  const char* lead = p;
  while (lead < last && *lead == '0') ++lead;
  while (p < last && Is_Digit(*p)) ++p;
  if (lead < p) {
    magnitude = p - lead - 1;
  } else if (p < last && *p == '.') {
    const char* q = p + 1;
    while (q < last && *q == '0') ++q;
    magnitude = -(q - p);
  }
  while (p < last && *p != 'e' && *p != 'E') ++p;
  std::int64_t exponent = 0;
  if (p < last) {
    ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    for (; p < last; ++p) exponent = std::min<std::int64_t>(exponent * 10 + (*p - '0'), 1'000'000'000);
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent < 0;
}

enum class Conversion { OK, TOO_LARGE };

// Converts a text that Scan_Real accepted to the nearest double. from_chars
// takes no leading "+", so the sign is applied here; it also reports
// underflow as out of range, though the correctly rounded result is then
// simply zero.
inline Conversion Convert_Real(const char* first, const char* last, double& value) {
  bool negative = false;
  if (*first == '+' || *first == '-') {
    negative = *first == '-';
    ++first;
  }
  const std::from_chars_result result = std::from_chars(first, last, value);
  if (result.ec == std::errc::result_out_of_range) {
    if (!Is_Tiny(first, last)) return Conversion::TOO_LARGE;
    value = 0.0;
  }
  if (negative) value = -value;
  return Conversion::OK;
}

} // namespace Karvel::Phylo::Read::Number_Text
