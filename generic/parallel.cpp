#include "generic/parallel.hpp"

#include <atomic>
#include <sched.h>

namespace Generic::Parallel {

namespace {

int Affinity_Count() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned hw = std::thread::hardware_concurrency();
  return hw > 0 ? static_cast<int>(hw) : 1;
}

std::atomic<int> chosen{0};

} // namespace

int Threads() {
  const int n = chosen.load(std::memory_order_relaxed);
  return n > 0 ? n : Affinity_Count();
}

void Set_Threads(int count) { chosen.store(count > 0 ? count : 1, std::memory_order_relaxed); }

} // namespace Generic::Parallel
