// The batch number writers of the instruction-set paths. The scalar and
// plain vector paths have none: without a vector conversion between doubles
// and 64-bit integers the general writer is as fast.

#include "format/fixed_format_kernels.hpp"

namespace Karvel::Format {

#if defined(__x86_64__)
extern const Format_Kernels Avx2_Format_Kernels, Avx512_Format_Kernels;
#endif

const Format_Kernels& Format_Kernels_Of(Generic::Simd::Path path) {
  static const Format_Kernels none{nullptr};
  switch (path) {
  case Generic::Simd::Path::SCALAR:
  case Generic::Simd::Path::VECTOR: break;
#if defined(__x86_64__)
  case Generic::Simd::Path::AVX2: return Avx2_Format_Kernels;
  case Generic::Simd::Path::AVX512: return Avx512_Format_Kernels;
#else
  default: break;
#endif
  }
  return none;
}

} // namespace Karvel::Format
