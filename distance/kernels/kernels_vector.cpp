// The distance kernels of the vector path: the baseline x86-64 vectors (SSE2), 2 doubles a vector.
// Compiled with the path's flags (see CMakeLists.txt).

#include "distance/kernels/kernels.hpp"

namespace {
namespace Vector_Unit {
using Frequency_Table = ::Phylo::Kernels::Frequency_Table;
#define LANES 2
#include "distance/kernels/pair_tiles_body.inc"
#include "distance/kernels/mismatches_body.inc"
#include "distance/kernels/binary_counts_body.inc"
#undef LANES
} // namespace Vector_Unit
} // namespace

namespace Phylo::Kernels {
extern const Kernel_Set Vector_Set;
const Kernel_Set Vector_Set = KARVEL_KERNEL_SET(Vector_Unit);
} // namespace Phylo::Kernels

