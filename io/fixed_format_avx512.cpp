// The batch number writer of the avx512 path: AVX-512, 8 values a group.
// Compiled with the path's flags (see CMakeLists.txt).

#include "io/fixed_format_kernels.hpp"
#if defined(__x86_64__)

namespace {
namespace Avx512_Unit {
#define LANES 8
#include "io/fixed_format_batch_body.inc"
#undef LANES
} // namespace Avx512_Unit
} // namespace

namespace Generic {
extern const Format_Kernels Avx512_Format_Kernels;
const Format_Kernels Avx512_Format_Kernels = {Avx512_Unit::Put_Tabbed_Here};
} // namespace Generic
#endif
