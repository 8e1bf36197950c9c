// The distance kernels of the avx2 path: AVX2, 4 doubles a vector.
// Compiled with the path's flags (see CMakeLists.txt).

#if defined(__x86_64__)
#define LANES 4
#define KARVEL_UNIT Avx2_Unit
#define KARVEL_SET Avx2_Set
#include "distance/kernels/kernel_unit.inc"
#endif
