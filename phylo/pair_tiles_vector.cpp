// The pair kernel with 2 double(s) per vector.

#include "phylo/pair_tiles_isa.hpp"

namespace {
namespace Vector_Unit {
#define LANES 2
#include "phylo/pair_tiles_body.inc"
#undef LANES
} // namespace Vector_Unit
} // namespace

KARVEL_DEFINE_TILE_SUMS(Vector)

