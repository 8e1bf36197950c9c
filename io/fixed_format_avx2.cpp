// The batch number writer of the avx2 path: AVX2, 4 values a group.
// Compiled with the path's flags (see CMakeLists.txt).

#include "io/fixed_format_kernels.hpp"
#if defined(__x86_64__)

namespace {
namespace Avx2_Unit {
#define LANES 4
#include "io/fixed_format_batch_body.inc"
#undef LANES
} // namespace Avx2_Unit
} // namespace

namespace Generic {
extern const Format_Kernels Avx2_Format_Kernels;
const Format_Kernels Avx2_Format_Kernels = {Avx2_Unit::Put_Tabbed_Here};
} // namespace Generic
#endif
