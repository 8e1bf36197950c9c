// The distance kernels of the scalar path: plain scalars (no SIMD).
// Compiled with the path's flags (see CMakeLists.txt).

#include "distance/kernels/kernels.hpp"

namespace {
namespace Scalar_Unit {
using Frequency_Table = ::Phylo::Kernels::Frequency_Table;
#define LANES 1
#include "distance/kernels/pair_tiles_body.inc"
#include "distance/kernels/mismatches_body.inc"
#include "distance/kernels/binary_counts_body.inc"
#undef LANES
} // namespace Scalar_Unit
} // namespace

namespace Phylo::Kernels {
extern const Kernel_Set Scalar_Set;
const Kernel_Set Scalar_Set = KARVEL_KERNEL_SET(Scalar_Unit);
} // namespace Phylo::Kernels

