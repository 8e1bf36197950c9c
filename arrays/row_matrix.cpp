#include "arrays/row_matrix.hpp"

#include "threads/parallel.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

namespace Karvel::Generic {

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

namespace {
constexpr std::uintptr_t Page = 4096;
// Pages are asked for this much at a time, so that the thread soon notices
// when the filler stops early and the rest is no longer wanted.
constexpr std::uintptr_t Backing_Step = std::uintptr_t{2} << 20;
} // namespace

Populating::Populating(void* memory, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  // Whole pages inside the range only: the pages at its ends may hold other
  // data that another thread is writing.
  const auto base = reinterpret_cast<std::uintptr_t>(memory);
  const auto start = (base + Page - 1) / Page * Page;
  const auto stop = (base + bytes) / Page * Page;
  if (stop <= start + (std::uintptr_t{1} << 20)) return; // not worth a thread
  if (Parallel::Threads() < 2) return;                   // told to keep to one thread
  try {
    worker_ = Parallel::Start([this, start, base, stop] { Back(start, base, stop); });
    next_report_ = Lead / 4;
  } catch (const Errors::Storage_Error&) {
    // Without a thread the pages come as they are used.
  }
#else
  (void)memory;
  (void)bytes;
#endif
}

void Populating::Report(std::size_t bytes) {
  {
    const std::lock_guard lock(mutex_);
    reached_ = std::max(reached_, bytes);
  }
  moved_.notify_one();
  next_report_ = bytes + Lead / 4;
}

// Backs [first, stop) a step at a time, never beyond Lead past what the
// filler has reached (counted from `base`, the start of the range).
void Populating::Back(std::uintptr_t first, std::uintptr_t base, std::uintptr_t stop) {
#if defined(MADV_POPULATE_WRITE)
  for (std::uintptr_t done = first; done < stop;) {
    std::uintptr_t limit = done;
    {
      std::unique_lock lock(mutex_);
      moved_.wait(lock, [&] {
        limit = std::min(stop, (base + reached_ + Lead) / Page * Page);
        return stopping_ || limit > done;
      });
      if (stopping_) return;
    }
    const std::uintptr_t end = std::min(limit, done + Backing_Step);
    // Not supported before Linux 5.14: then the pages come as they are used.
    if (::madvise(reinterpret_cast<void*>(done), end - done, MADV_POPULATE_WRITE) != 0) return;
    done = end;
  }
#else
  (void)first;
  (void)base;
  (void)stop;
#endif
}

Populating::~Populating() {
  if (!worker_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  moved_.notify_one();
  worker_.join();
}

} // namespace Karvel::Generic
