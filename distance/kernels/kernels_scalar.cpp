// The distance kernels of the scalar path: plain scalars (no SIMD).
// Compiled with the path's flags (see CMakeLists.txt).

#define LANES 1
#define KARVEL_UNIT Scalar_Unit
#define KARVEL_SET Scalar_Set
#include "distance/kernels/kernel_unit.inc"
