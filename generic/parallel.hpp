#pragma once
// Running independent work on several threads. Work is split so that every
// result is computed exactly as one thread would compute it; threads only
// change who computes what, never how.

#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
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

// Makes pieces 0 .. count - 1 of a text on `workers` threads and hands them
// to `consume` on the calling thread strictly in order, while later pieces
// are still being made. At most two pieces per worker exist at a time. An
// exception from make or consume stops the workers and leaves (the first
// one seen).
template <class Make, class Consume>
void In_Order(int count, int workers, Make&& make, Consume&& consume) {
  if (count <= 0) return;
  const int slots = 2 * workers;
  struct Slot {
    std::string text;
    bool ready = false;
  };
  std::vector<Slot> ring(static_cast<std::size_t>(slots));
  std::mutex lock;
  std::condition_variable changed;
  int consumed = 0;   // pieces handed to consume
  bool stop = false;
  std::exception_ptr failure; // from a worker
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(workers));
  for (int w = 0; w < workers; ++w)
    threads.emplace_back([&, w] {
      for (int piece = w; piece < count; piece += workers) {
        Slot& slot = ring[static_cast<std::size_t>(piece % slots)];
        {
          std::unique_lock<std::mutex> guard(lock);
          changed.wait(guard, [&] { return stop || piece < consumed + slots; });
          if (stop) return;
        }
        try {
          slot.text.clear();
          make(piece, slot.text);
        } catch (...) {
          std::lock_guard<std::mutex> guard(lock);
          if (!failure) failure = std::current_exception();
          stop = true;
          changed.notify_all();
          return;
        }
        std::lock_guard<std::mutex> guard(lock);
        slot.ready = true;
        changed.notify_all();
      }
    });
  std::exception_ptr error;
  try {
    for (int piece = 0; piece < count; ++piece) {
      Slot& slot = ring[static_cast<std::size_t>(piece % slots)];
      {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return slot.ready || stop; });
        if (!slot.ready) break; // a worker failed
      }
      consume(static_cast<const std::string&>(slot.text));
      std::lock_guard<std::mutex> guard(lock);
      slot.ready = false;
      ++consumed;
      changed.notify_all();
    }
  } catch (...) {
    error = std::current_exception();
    std::lock_guard<std::mutex> guard(lock);
    stop = true;
    changed.notify_all();
  }
  for (std::thread& t : threads) t.join();
  if (error) std::rethrow_exception(error);
  if (failure) std::rethrow_exception(failure);
}

} // namespace Generic::Parallel
