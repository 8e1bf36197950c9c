#include "generic/row_matrix.hpp"

#include <sys/mman.h>

namespace Generic {

void* Allocate_Large(std::size_t bytes) {
  constexpr std::size_t Huge_Page = std::size_t{2} << 20;
  if (bytes < Huge_Page) return std::malloc(bytes > 0 ? bytes : 1);
  const std::size_t rounded = (bytes + Huge_Page - 1) / Huge_Page * Huge_Page;
  void* p = std::aligned_alloc(Huge_Page, rounded);
#if defined(MADV_HUGEPAGE)
  if (p) ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
  return p;
}

} // namespace Generic
