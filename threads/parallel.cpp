#include "threads/parallel.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace Karvel::Generic::Parallel {

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

// glibc gives threads malloc arenas of their own, each reserving 64 MB of
// address space at once. Under a limit on address space (ulimit -v) those
// reservations, made in whatever order the threads first allocate, could
// take the room the data need, and a run would fail or not by timing: there
// one arena serves every thread.
bool Fit_Allocator_To_Address_Limit() {
#ifdef __GLIBC__
  struct rlimit limit {};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) mallopt(M_ARENA_MAX, 1);
#endif
  return true;
}

std::atomic<int> starts{0};    // tried since the last Fail_Starts_From
std::atomic<int> fail_from{0}; // 0: none fails

} // namespace

namespace Detail {

void Count_Start() {
  [[maybe_unused]] static const bool fitted = Fit_Allocator_To_Address_Limit();
  const int nth = starts.fetch_add(1, std::memory_order_relaxed) + 1;
  const int from = fail_from.load(std::memory_order_relaxed);
  // What std::thread raises when the system refuses another thread.
  if (from > 0 && nth >= from)
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}

namespace {

void* Run_Task(void* task) noexcept {
  const std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(task));
  (*run)();
  return nullptr;
}

Errors::Storage_Error Cannot_Start(int code) {
  return Errors::Storage_Error("cannot start a thread: " + std::make_error_code(static_cast<std::errc>(code)).message());
}

} // namespace

static_assert(sizeof(pthread_t) <= sizeof(unsigned long));

Worker_Thread::Worker_Thread(std::function<void()> task) {
  try {
    Count_Start();
  } catch (const std::system_error& e) {
    throw Cannot_Start(e.code().value());
  }
  std::unique_ptr<std::function<void()>> owned;
  try {
    owned = std::make_unique<std::function<void()>>(std::move(task));
  } catch (const std::bad_alloc&) {
    throw Cannot_Start(ENOMEM);
  }
  pthread_attr_t attributes;
  if (const int code = pthread_attr_init(&attributes); code != 0) throw Cannot_Start(code);
  int code = pthread_attr_setstacksize(&attributes, std::max(Worker_Stack, static_cast<std::size_t>(PTHREAD_STACK_MIN)));
  pthread_t id{};
  if (code == 0) code = pthread_create(&id, &attributes, Run_Task, owned.get());
  pthread_attr_destroy(&attributes);
  if (code != 0) throw Cannot_Start(code);
  owned.release(); // Run_Task owns it now
  id_ = static_cast<unsigned long>(id);
  running_ = true;
}

void Worker_Thread::join() {
  if (!running_) return;
  running_ = false;
  pthread_join(static_cast<pthread_t>(id_), nullptr);
}

} // namespace Detail

namespace Testing {

void Fail_Starts_From(int nth) {
  starts.store(0, std::memory_order_relaxed);
  fail_from.store(nth, std::memory_order_relaxed);
}

int Starts() { return starts.load(std::memory_order_relaxed); }

} // namespace Testing

namespace {
thread_local int call_threads = 0;
}

Call_Threads::Call_Threads(int count) : previous_(call_threads) { call_threads = count > 0 ? count : 0; }
Call_Threads::~Call_Threads() { call_threads = previous_; }

int Threads() {
  if (call_threads > 0) return call_threads;
  const int n = chosen.load(std::memory_order_relaxed);
  return n > 0 ? n : Affinity_Count();
}

void Set_Threads(int count) { chosen.store(count > 0 ? count : 1, std::memory_order_relaxed); }

} // namespace Karvel::Generic::Parallel
