// The pair kernel with 2 double(s) per vector.

#include "distance/kernels/pair_tiles_isa.hpp"

namespace {
namespace Vector_Unit {
#define LANES 2
#include "distance/kernels/pair_tiles_body.inc"
#undef LANES
} // namespace Vector_Unit
} // namespace

KARVEL_DEFINE_TILE_SUMS(Vector)

