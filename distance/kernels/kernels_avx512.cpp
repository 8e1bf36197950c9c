// The distance kernels of the avx512 path: AVX-512, 8 doubles a vector.
// Compiled with the path's flags (see CMakeLists.txt).

#if defined(__x86_64__)
#define LANES 8
#define KARVEL_UNIT Avx512_Unit
#define KARVEL_SET Avx512_Set
#include "distance/kernels/kernel_unit.inc"
#endif
