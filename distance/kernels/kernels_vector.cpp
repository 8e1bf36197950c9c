// The distance kernels of the vector path: the baseline x86-64 vectors (SSE2), 2 doubles a vector.
// Compiled with the path's flags (see CMakeLists.txt).

#define LANES 2
#define KARVEL_UNIT Vector_Unit
#define KARVEL_SET Vector_Set
#include "distance/kernels/kernel_unit.inc"
