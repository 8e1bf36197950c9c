// The batch number writer of the avx2 path: AVX2, 4 values a group.
// Compiled with the path's flags (see CMakeLists.txt).

#if defined(__x86_64__)
#define LANES 4
#define KARVEL_UNIT Avx2_Unit
#define KARVEL_SET Avx2_Format_Kernels
#include "format/fixed_format_unit.inc"
#endif
