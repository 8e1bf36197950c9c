// The one choice of instruction-set path that every kernel family follows.

#include <gtest/gtest.h>

#include <string>

#include "distance/kernels/kernels.hpp"
#include "simd/simd.hpp"
#include "format/fixed_format_kernels.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

using Generic::Simd::Path;

TEST(Simd, NamesParseBackAndListThePaths) {
  for (Path path : Generic::Simd::All_Paths) EXPECT_EQ(Generic::Simd::Parse(Generic::Simd::Name(path)), path);
  EXPECT_FALSE(Generic::Simd::Parse("AVX2"));
  EXPECT_FALSE(Generic::Simd::Parse(""));
  EXPECT_FALSE(Generic::Simd::Parse("avx"));
  EXPECT_EQ(Generic::Simd::Names(false), "scalar, vector, avx2, avx512");
  // The available ones are a prefix of all: each path needs what the
  // narrower ones need.
  const std::string available = Generic::Simd::Names(true);
  EXPECT_EQ(Generic::Simd::Names(false).rfind(available, 0), 0u) << available;
  EXPECT_TRUE(Generic::Simd::Available(Path::SCALAR));
  EXPECT_TRUE(Generic::Simd::Available(Path::VECTOR));
  EXPECT_TRUE(Generic::Simd::Available(Generic::Simd::Best()));
  EXPECT_EQ(available.substr(available.rfind(' ') + 1), Generic::Simd::Name(Generic::Simd::Best()));
}

TEST(Simd, EveryFamilyFollowsTheChosenPathAndTheScopeRestoresIt) {
  const Path before = Generic::Simd::Current();
  const int threads = Generic::Parallel::Threads();
  for (Path path : Generic::Simd::All_Paths) {
    if (!Generic::Simd::Available(path)) continue;
    Test_Support::Settings_Scope settings(path, 3);
    EXPECT_EQ(Generic::Simd::Current(), path);
    EXPECT_EQ(Generic::Parallel::Threads(), 3);
    EXPECT_EQ(&Phylo::Kernels::Kernels(), &Phylo::Kernels::Kernels(path));
    EXPECT_EQ(&Format::Format_Kernels_Of(), &Format::Format_Kernels_Of(path));
    // Only the paths with vector conversions between doubles and integers
    // have a batch writer.
    EXPECT_EQ(Format::Format_Kernels_Of(path).Put_Tabbed != nullptr, path >= Path::AVX2) << Generic::Simd::Name(path);
  }
  EXPECT_EQ(Generic::Simd::Current(), before);
  EXPECT_EQ(Generic::Parallel::Threads(), threads);
}

} // namespace
