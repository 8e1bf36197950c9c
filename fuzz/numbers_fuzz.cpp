// Number input and output against the C library. The reader's shortcut
// (an exact division for short decimals) and its handling of values out of
// range must give what a correctly rounding strtod gives; the printer's
// shortcut for eight decimals, alone and in whole rows, what
// std::to_chars(fixed, 8) writes.
//
// Input: the whole input is read as one real number and as one integer;
// every 8 bytes are also a double to print (most with their exponent
// brought near 1, where values have digits on both sides of the point).

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.hpp"
#include "write/print.hpp"
#include "write/print_number.hpp"
#include "read/read.hpp"

using namespace Karvel;

namespace {

using Text_IO::Text_Input;

// The outcome of reading one number: a value and the bytes left after it,
// or the kind of error.
struct Outcome {
  std::string error; // empty when a value was read
  std::uint64_t bits = 0;
  std::size_t left = 0;
  bool operator==(const Outcome&) const = default;
  std::string Show() const {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s value %a (bits %016llx), %zu bytes left", error.empty() ? "" : error.c_str(),
                  std::bit_cast<double>(bits), static_cast<unsigned long long>(bits), left);
    return buf;
  }
};

template <class Read>
Outcome Karvel_Outcome(std::string_view text, Read read) {
  Text_Input in(text, Text_Input::Borrowed{});
  Outcome o;
  try {
    o.bits = read(in);
    o.left = in.Known_Bytes_Left().value_or(0);
  } catch (const Errors::Error& e) {
    o.error = e.Name();
  }
  return o;
}

bool Is_Blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool Is_Digit(char c) { return c >= '0' && c <= '9'; }

// Where the number after the blanks at `i` ends, by the grammar
// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits]; npos when the
// text there is no number.
std::size_t Number_End(std::string_view t, std::size_t i) {
  auto digits = [&] {
    const std::size_t start = i;
    while (i < t.size() && Is_Digit(t[i])) ++i;
    return i - start;
  };
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  const std::size_t whole = digits();
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (digits() == 0) return std::string_view::npos;
  } else if (whole == 0) {
    return std::string_view::npos;
  }
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    if (digits() == 0) return std::string_view::npos;
  }
  return i;
}

Outcome Expected_Real(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && Is_Blank(t[i])) ++i;
  if (i == t.size()) return {"END_ERROR"};
  const std::size_t end = Number_End(t, i);
  if (end == std::string_view::npos) return {"DATA_ERROR"};
  const std::string number(t.substr(i, end - i));
  errno = 0;
  const double value = std::strtod(number.c_str(), nullptr);
  if (std::isinf(value)) return {"DATA_ERROR"};
  return {"", std::bit_cast<std::uint64_t>(value), t.size() - end};
}

Outcome Expected_Integer(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && Is_Blank(t[i])) ++i;
  if (i == t.size()) return {"END_ERROR"};
  const bool negative = t[i] == '-';
  if (t[i] == '+' || t[i] == '-') ++i;
  const std::size_t start = i;
  long long magnitude = 0;
  for (; i < t.size() && Is_Digit(t[i]); ++i) magnitude = std::min(magnitude * 10 + (t[i] - '0'), 1LL << 40);
  if (i == start) return {"DATA_ERROR"};
  if (magnitude > (negative ? 1LL << 31 : (1LL << 31) - 1)) return {"DATA_ERROR"};
  const long long value = negative ? -magnitude : magnitude;
  return {"", static_cast<std::uint64_t>(value), t.size() - i};
}

// A value as the number layout writes it: to_chars with 8 decimals, no
// minus sign on zero, the part before the point right-aligned in `fore`.
// `decimals` below zero asks for the shortest text.
std::string Expected_Number(double value, int fore, int decimals = 8) {
  if (value == 0.0) value = 0.0;
  // A pair without a distance: NaN where the number would stand, the width
  // of the point and the decimals included where their count is fixed.
  if (value != value) {
    const std::size_t width =
        static_cast<std::size_t>(std::max(fore, 0)) + (decimals > 0 ? 1 + static_cast<std::size_t>(decimals) : 0);
    return std::string(width > 3 ? width - 3 : 0, ' ') + "NaN";
  }
  char buf[400];
  const std::size_t length = static_cast<std::size_t>(
      (decimals < 0 ? std::to_chars(buf, buf + sizeof buf, value)
                    : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals))
          .ptr -
      buf);
  const std::string text(buf, length);
  const std::size_t point = text.find_first_of(".e");
  const std::size_t integer = point == std::string::npos ? length : point;
  return std::string(static_cast<std::size_t>(std::max(fore, 0)) > integer ? static_cast<std::size_t>(fore) - integer
                                                                              : 0,
                     ' ') +
         text;
}

std::string Karvel_Number(double value, int fore, int aft = Phylo::Print::Default_Aft) {
  std::string text;
  Text_IO::Text_Output out(&text);
  Phylo::Print::Detail::Put_Number(out, value, fore, aft, Phylo::Print::Default_Exp);
  out.Flush();
  return text;
}

// Doubles from the bytes, 8 at a time; unless the lowest bit is set, the
// exponent is brought into 2^-30 .. 2^33, so most values have digits on
// both sides of the point and round at the eighth decimal.
std::vector<double> Values_Of(const std::uint8_t* data, std::size_t size) {
  std::vector<double> values;
  for (std::size_t k = 0; k + 8 <= size && values.size() < 64; k += 8) {
    std::uint64_t bits;
    std::memcpy(&bits, data + k, 8);
    if ((bits & 1) == 0) {
      const std::uint64_t exponent = 1023 - 30 + ((bits >> 52) & 0x7FF) % 64;
      bits = (bits & ~(std::uint64_t{0x7FF} << 52)) | exponent << 52;
    }
    values.push_back(std::bit_cast<double>(bits));
  }
  return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Fuzz::Exact_Copy copy(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string_view text = copy.View();

  const Outcome real = Karvel_Outcome(text, [](Text_Input& in) {
    return std::bit_cast<std::uint64_t>(Phylo::Read::Read_Real(in));
  });
  const Outcome want_real = Expected_Real(text);
  if (!(real == want_real)) Fuzz::Differ("Read_Real", want_real.Show(), real.Show());

  const Outcome integer = Karvel_Outcome(text, [](Text_Input& in) {
    return static_cast<std::uint64_t>(static_cast<long long>(Phylo::Read::Read_Integer(in)));
  });
  const Outcome want_integer = Expected_Integer(text);
  if (!(integer == want_integer)) Fuzz::Differ("Read_Integer", want_integer.Show(), integer.Show());

  std::vector<double> values = Values_Of(data, size);
  if (real.error.empty()) values.push_back(std::bit_cast<double>(real.bits));
  const int fore = size > 0 ? data[0] % 20 : 2;
  // --decimals=0 .. 17, or --exact (-1).
  const int decimals = size > 1 ? data[1] % 19 - 1 : 8;
  const int aft = decimals < 0 ? Phylo::Print::Shortest_Aft : Phylo::Print::Aft_Of_Decimals(decimals);
  for (double v : values) {
    for (int f : {2, fore}) {
      const std::string got = Karvel_Number(v, f);
      const std::string want = Expected_Number(v, f);
      if (got != want) Fuzz::Differ("Put_Number", want, got);
    }
    const std::string got = Karvel_Number(v, fore, aft);
    const std::string want = Expected_Number(v, fore, decimals);
    if (got != want) Fuzz::Differ("Put_Number with chosen decimals", want, got);
  }

  // Whole rows, which the printer writes several values at a time: each
  // row of the square is the values turned by one more place.
  if (values.empty()) return 0;
  const int n = static_cast<int>(values.size());
  Phylo::Squared matrix(Phylo::Taxon_Labels(static_cast<std::size_t>(n)));
  matrix.Matrix = Generic::Square_Block(0, n - 1);
  std::string want;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double v = values[static_cast<std::size_t>((i + j) % n)];
      matrix.Matrix(i, j) = v;
      want += '\t' + Expected_Number(v, Phylo::Print::Default_Fore);
    }
    want += '\n';
  }
  want += '\n';
  std::string got;
  Text_IO::Text_Output out(&got);
  Phylo::Print::Put(out, matrix, Phylo::Print::Dist_Output_Format::RAW, Phylo::Print::Default_Fore,
                    Phylo::Print::Default_Aft, Phylo::Print::Default_Exp);
  out.Flush();
  if (got != want) Fuzz::Differ("rows of values", want, got);
  return 0;
}
