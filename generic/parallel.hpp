#pragma once
// Running independent work on several threads. Work is split so that every
// result is computed exactly as one thread would compute it; threads only
// change who computes what, never how.

#include <exception>
#include <thread>
#include <vector>

namespace Generic::Parallel {

// How many threads the heavy stages use: the number set last, or else the
// number of CPUs this process may run on (its affinity mask).
int Threads();
void Set_Threads(int count);

// Runs body(worker) for worker = 0 .. workers - 1, worker 0 on the calling
// thread, and waits for all. An exception leaves after every worker has
// stopped; the one of the lowest worker number wins.
template <class Body>
void Run(int workers, Body&& body) {
  if (workers <= 1) {
    body(0);
    return;
  }
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(workers));
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(workers - 1));
  auto guarded = [&](int w) {
    try {
      body(w);
    } catch (...) {
      errors[static_cast<std::size_t>(w)] = std::current_exception();
    }
  };
  for (int w = 1; w < workers; ++w) threads.emplace_back(guarded, w);
  guarded(0);
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

} // namespace Generic::Parallel
