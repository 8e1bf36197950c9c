#include "generic/row_matrix.hpp"

#include "generic/parallel.hpp"

#include <sys/mman.h>

#include <cstdint>

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

Populating::Populating(void* memory, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  // Whole pages inside the range only: the pages at its ends may hold other
  // data that another thread is writing.
  constexpr std::uintptr_t Page = 4096;
  const auto start = (reinterpret_cast<std::uintptr_t>(memory) + Page - 1) / Page * Page;
  const auto stop = (reinterpret_cast<std::uintptr_t>(memory) + bytes) / Page * Page;
  if (stop <= start + (std::uintptr_t{1} << 20)) return; // not worth a thread
  if (Parallel::Threads() < 2) return;                   // told to keep to one thread
  try {
    worker_ = Parallel::Start([start, stop] {
      // Not supported before Linux 5.14: then the pages come as they are used.
      ::madvise(reinterpret_cast<void*>(start), stop - start, MADV_POPULATE_WRITE);
    });
  } catch (const Errors::Storage_Error&) {
    // Without a thread the pages come as they are used.
  }
#else
  (void)memory;
  (void)bytes;
#endif
}

Populating::~Populating() {
  if (worker_.joinable()) worker_.join();
}

} // namespace Generic
