// The pair kernel with 1 double(s) per vector.

#include "distance/kernels/pair_tiles_isa.hpp"

namespace {
namespace Scalar_Unit {
#define LANES 1
#include "distance/kernels/pair_tiles_body.inc"
#undef LANES
} // namespace Scalar_Unit
} // namespace

KARVEL_DEFINE_TILE_SUMS(Scalar)

