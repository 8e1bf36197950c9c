// The pair kernel with 8 double(s) per vector; compiled with -mavx512f.
#if defined(__x86_64__)
#include "distance/kernels/pair_tiles_isa.hpp"

namespace {
namespace Avx512_Unit {
#define LANES 8
#include "distance/kernels/pair_tiles_body.inc"
#undef LANES
} // namespace Avx512_Unit
} // namespace

KARVEL_DEFINE_TILE_SUMS(Avx512)
#endif
