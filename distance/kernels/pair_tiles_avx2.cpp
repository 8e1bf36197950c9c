// The pair kernel with 4 double(s) per vector; compiled with -mavx2.
#if defined(__x86_64__)
#include "distance/kernels/pair_tiles_isa.hpp"

namespace {
namespace Avx2_Unit {
#define LANES 4
#include "distance/kernels/pair_tiles_body.inc"
#undef LANES
} // namespace Avx2_Unit
} // namespace

KARVEL_DEFINE_TILE_SUMS(Avx2)
#endif
