#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "format/fixed_format.hpp"

using namespace Karvel;

namespace {

std::string Library(double v, int aft = 8) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, aft);
  return std::string(buf, r.ptr);
}

std::string Fast(double v, int aft = 8) {
  char buf[400];
  return std::string(buf, Format::Format_Fixed(buf, buf + sizeof buf, v, aft));
}

TEST(FormatFixed, KnownValues) {
  EXPECT_EQ(Fast(0.0), "0.00000000");
  EXPECT_EQ(Fast(-0.0), Library(-0.0));
  EXPECT_EQ(Fast(0.5), "0.50000000");
  EXPECT_EQ(Fast(1.0 / 3.0), "0.33333333");
  EXPECT_EQ(Fast(2.0 / 3.0), "0.66666667");
  EXPECT_EQ(Fast(12.345), "12.34500000");
  EXPECT_EQ(Fast(-0.25), "-0.25000000");
  EXPECT_EQ(Fast(1e300), Library(1e300));
  EXPECT_EQ(Fast(INFINITY), Library(INFINITY));
  EXPECT_EQ(Fast(NAN), Library(NAN));
  EXPECT_EQ(Fast(5e-324), "0.00000000");
  EXPECT_EQ(Fast(-5e-324), Library(-5e-324));
  EXPECT_EQ(Fast(0.1, 3), "0.100");
}

TEST(FormatFixed, ExactHalvesRoundToEven) {
  // k / 2^9 has nine decimals, so every odd k is a tie at eight decimals.
  for (int k = 1; k < 4096; k += 2) {
    const double v = std::ldexp(static_cast<double>(k), -9) * 1e-0;
    ASSERT_EQ(Fast(v), Library(v)) << v;
    ASSERT_EQ(Fast(-v), Library(-v)) << v;
  }
  EXPECT_EQ(Fast(0.001953125), "0.00195312");
  EXPECT_EQ(Fast(0.005859375), "0.00585938");
}

TEST(FormatFixed, MatchesTheLibraryOnManyValues) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> scale(-40, 60);
  for (int n = 0; n < 2000000; ++n) {
    double v;
    switch (n % 4) {
    case 0: v = unit(rng); break;                                  // typical distances
    case 1: v = std::ldexp(unit(rng), scale(rng)); break;          // all magnitudes
    case 2: v = std::bit_cast<double>(rng()); break;               // any bit pattern
    default: v = std::nextafter(std::round(unit(rng) * 1e8) / 1e8 + 0.5e-8, n % 8 < 4 ? 0.0 : 2.0); // near ties
    }
    ASSERT_EQ(Fast(v), Library(v)) << std::bit_cast<std::uint64_t>(v);
  }
}

// The field of the number layout: sign and integer part right-aligned in
// `fore` characters, as the library's text padded on the left.
std::string Padded_Library(double v, int fore) {
  std::string text = Library(v);
  const std::size_t point = text.find('.');
  if (point < static_cast<std::size_t>(fore)) text.insert(0, static_cast<std::size_t>(fore) - point, ' ');
  return text;
}

std::string Fast_Field(double v, int fore) {
  Format::Fixed8 parts;
  if (!Format::Decompose_Fixed8(v, parts)) return "(not taken)";
  char buf[64];
  return std::string(buf, Format::Put_Fixed8(buf, parts, fore));
}

TEST(FormatFixed, FieldsMatchThePaddedLibraryText) {
  std::mt19937_64 rng(777);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> scale(-30, 45);
  for (int n = 0; n < 2000000; ++n) {
    double v = std::ldexp(unit(rng), scale(rng));
    if (n % 3 == 0) v = -v;
    if (n % 5 == 0) v = std::round(v * 1e8) / 1e8 + (n % 2 ? 0.5e-8 : -0.5e-8); // near ties
    for (int fore : {0, 2, 5}) ASSERT_EQ(Fast_Field(v, fore), Padded_Library(v, fore)) << v << " fore " << fore;
  }
  for (double v : {0.0, 9.99999999, 9.999999995, 99.5, 999.99999999, 9999.999999995, 10000.0, 123456.75, -0.000000005})
    for (int fore : {0, 2, 5}) EXPECT_EQ(Fast_Field(v, fore), Padded_Library(v, fore)) << v;
}

// The vector writers of the distance layout against the library's text:
// values of every width of integer part, carries into the next width,
// near ties, and values they must leave to the caller (negative, 10^4 and
// more, not numbers) at every lane position.
TEST(FormatFixed, VectorWritersMatchTheLibrary) {
  std::mt19937_64 rng(4242);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> values;
  for (int n = 0; n < 400000; ++n) {
    const double scale = std::pow(10.0, n % 5); // 1 .. 10^4
    double v = unit(rng) * scale;
    if (n % 7 == 0) v = std::round(v * 1e8) / 1e8 + (n % 2 ? 0.5e-8 : -0.5e-8);
    values.push_back(v);
  }
  const double special[] = {0.0, -0.0, 9.999999995, 9.99999999, 99.999999995, 999.999999995, 9999.99999999,
                            9999.999999995, 1e4, 123456.75, -1.5, -0.000000001, 4e-320, 0.000000005,
                            std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  for (double v : special)
    for (int k = 0; k < 9; ++k) values[rng() % values.size()] = v;

  std::string expected;
  for (double v : values) expected += "\t" + Padded_Library(v == 0.0 ? 0.0 : v, 2);
  int tried = 0;
  for (Generic::Simd::Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    const Format::Tabbed_Writer writer = Format::Format_Kernels_Of(path).Put_Tabbed;
    if (!writer) continue;
    const char* const name = Generic::Simd::Name(path);
    ++tried;
    std::string text(values.size() * 48, '\0');
    char* out = text.data();
    for (std::size_t k = 0; k < values.size();) {
      k += writer(out, values.data() + k, values.size() - k);
      if (k == values.size()) break;
      const std::string one = "\t" + Padded_Library(values[k] == 0.0 ? 0.0 : values[k], 2); // the caller's part
      out = std::copy(one.begin(), one.end(), out);
      ++k;
    }
    text.resize(static_cast<std::size_t>(out - text.data()));
    ASSERT_EQ(text.size(), expected.size()) << name;
    for (std::size_t at = 0; at < text.size(); at += 4096)
      ASSERT_EQ(text.substr(at, 4096), expected.substr(at, 4096)) << name << ", byte " << at;
  }
  if (tried == 0) GTEST_SKIP() << "no vector writer runs on this processor";
}

} // namespace
