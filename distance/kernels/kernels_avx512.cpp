// The distance kernels of the avx512 path: AVX-512, 8 doubles a vector.
// Compiled with the path's flags (see CMakeLists.txt).

#include "distance/kernels/kernels.hpp"
#if defined(__x86_64__)
#include <immintrin.h>

namespace {
namespace Avx512_Unit {
using Frequency_Table = ::Phylo::Kernels::Frequency_Table;
#define LANES 8
#include "distance/kernels/pair_tiles_body.inc"
#include "distance/kernels/mismatches_body.inc"
#include "distance/kernels/binary_counts_body.inc"
#undef LANES
} // namespace Avx512_Unit
} // namespace

namespace Phylo::Kernels {
extern const Kernel_Set Avx512_Set;
const Kernel_Set Avx512_Set = KARVEL_KERNEL_SET(Avx512_Unit);
} // namespace Phylo::Kernels
#endif
