// The batch number writer of the avx512 path: AVX-512, 8 values a group.
// Compiled with the path's flags (see CMakeLists.txt).

#if defined(__x86_64__)
#define LANES 8
#define KARVEL_UNIT Avx512_Unit
#define KARVEL_SET Avx512_Format_Kernels
#include "format/fixed_format_unit.inc"
#endif
