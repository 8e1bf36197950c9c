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

std::atomic<int> starts{0};    // tried since the last Fail_Starts_From
std::atomic<int> fail_from{0}; // 0: none fails

} // namespace

namespace Detail {

void Count_Start() {
  const int nth = starts.fetch_add(1, std::memory_order_relaxed) + 1;
  const int from = fail_from.load(std::memory_order_relaxed);
  // What std::thread raises when the system refuses another thread.
  if (from > 0 && nth >= from)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

} // namespace Detail

namespace Testing {

void Fail_Starts_From(int nth) {
  starts.store(0, std::memory_order_relaxed);
  fail_from.store(nth, std::memory_order_relaxed);
}

int Starts() { return starts.load(std::memory_order_relaxed); }

} // namespace Testing

int Threads() {
  const int n = chosen.load(std::memory_order_relaxed);
  return n > 0 ? n : Affinity_Count();
}

void Set_Threads(int count) { chosen.store(count > 0 ? count : 1, std::memory_order_relaxed); }

} // namespace Generic::Parallel
