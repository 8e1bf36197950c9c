// The distance kernels of the avx2 path: AVX2, 4 doubles a vector.
// Compiled with the path's flags (see CMakeLists.txt).

#include "distance/kernels/kernels.hpp"
#if defined(__x86_64__)

namespace {
namespace Avx2_Unit {
using Frequency_Table = ::Phylo::Kernels::Frequency_Table;
#define LANES 4
#include "distance/kernels/pair_tiles_body.inc"
#include "distance/kernels/mismatches_body.inc"
#include "distance/kernels/binary_counts_body.inc"
#undef LANES
} // namespace Avx2_Unit
} // namespace

namespace Phylo::Kernels {
extern const Kernel_Set Avx2_Set;
const Kernel_Set Avx2_Set = KARVEL_KERNEL_SET(Avx2_Unit);
} // namespace Phylo::Kernels
#endif
