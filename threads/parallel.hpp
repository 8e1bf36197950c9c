#pragma once
// Running independent work on several threads. Work is split so that every
// result is computed exactly as one thread would compute it; threads only
// change who computes what, never how.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/errors.hpp"

namespace Karvel::Generic::Parallel {

// How many threads the heavy stages use: the number set last, or else the
// number of CPUs this process may run on (its affinity mask).
int Threads();
void Set_Threads(int count);

// The thread count of one call of the library, for the calling thread and
// as long as this lives: Threads() answers it there, whatever the process
// has set, so that two calls on two threads can each ask for their own.
class Call_Threads {
public:
  explicit Call_Threads(int count);
  ~Call_Threads();
  Call_Threads(const Call_Threads&) = delete;
  Call_Threads& operator=(const Call_Threads&) = delete;

private:
  int previous_;
};

namespace Detail {
void Count_Start(); // where tests make a start fail

// The stack of a worker of Run and In_Order. Their bodies recurse nowhere
// and keep their buffers on the heap, so a small stack does: the default
// (the stack limit, often 8 MiB) times a thread per processor is what a
// limit on address space runs out of first. Sanitizers widen every frame.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::size_t Worker_Stack = std::size_t{4} << 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr std::size_t Worker_Stack = std::size_t{4} << 20;
#else
inline constexpr std::size_t Worker_Stack = std::size_t{256} << 10;
#endif
#else
inline constexpr std::size_t Worker_Stack = std::size_t{256} << 10;
#endif

// A thread with a stack of Worker_Stack bytes; joined before it goes.
class Worker_Thread {
public:
  // Starts task, or raises Storage_Error as Start does.
  explicit Worker_Thread(std::function<void()> task);
  Worker_Thread(Worker_Thread&& other) noexcept : id_(other.id_), running_(other.running_) { other.running_ = false; }
  Worker_Thread& operator=(Worker_Thread&&) = delete;
  Worker_Thread(const Worker_Thread&) = delete;
  ~Worker_Thread() { join(); }
  void join();

private:
  unsigned long id_ = 0; // pthread_t
  bool running_ = false;
};
} // namespace Detail

// Every thread of the program is started here, so that tests can make any
// start fail. A system that cannot give one more thread (too many, no room
// for its stack) raises Storage_Error. Run, In_Order and the page-populating
// helper go on with the threads they got, since a thread only changes who
// computes what, never the result.
template <class Function, class... Args>
std::thread Start(Function&& function, Args&&... args) {
  try {
    Detail::Count_Start();
    return std::thread(std::forward<Function>(function), std::forward<Args>(args)...);
  } catch (const std::system_error& e) {
    throw Errors::Storage_Error("cannot start a thread: " + e.code().message());
  } catch (const std::bad_alloc&) {
    throw Errors::Storage_Error("cannot start a thread: " +
                                std::make_error_code(std::errc::not_enough_memory).message());
  }
}

// For tests only: thread starts are counted from now on, and the nth of them
// (1 is the next one) and every later one fail as they do when the system
// has no room left; 0 lets every start through again.
namespace Testing {
void Fail_Starts_From(int nth);
int Starts(); // tried since the last Fail_Starts_From
} // namespace Testing

// Runs body(worker) for worker = 0 .. workers - 1, worker 0 on the calling
// thread, and waits for all. An exception leaves after every worker has
// stopped; the one of the lowest worker number wins. A worker whose thread
// cannot start runs on the calling thread after worker 0: bodies must never
// wait for one another.
template <class Body>
void Run(int workers, Body&& body) {
  if (workers <= 1) {
    body(0);
    return;
  }
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(workers));
  std::vector<Detail::Worker_Thread> threads;
  threads.reserve(static_cast<std::size_t>(workers - 1));
  auto guarded = [&](int w) {
    try {
      body(w);
    } catch (...) {
      errors[static_cast<std::size_t>(w)] = std::current_exception();
    }
  };
  int started = 1; // workers 0 .. started - 1 have a thread
  try {
    for (; started < workers; ++started) threads.emplace_back([&guarded, started] { guarded(started); });
  } catch (...) {
    // Whatever kept the thread from starting, the work is still all done.
  }
  guarded(0);
  for (int w = started; w < workers; ++w) guarded(w);
  for (Detail::Worker_Thread& t : threads) t.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

// Makes pieces 0 .. count - 1 of a text on `workers` threads and hands them
// to `consume` on the calling thread strictly in order, while later pieces
// are still being made. At most two pieces per worker exist at a time. An
// exception from make or consume stops the workers and leaves (the first
// one seen). Workers take the pieces in turn, so fewer threads than asked
// for (some could not start) still make them all; with none, the calling
// thread makes each piece itself. A worker that finds no memory for its
// piece gives the piece back and leaves, its slot's memory freed, and the
// others (the calling thread last) make it: the text is the same, made by
// fewer. Only the calling thread running out of memory ends the run.
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
  int taken = 0;      // pieces given to a worker, given-back ones included
  int consumed = 0;   // pieces handed to consume
  int live = 0;       // workers still taking pieces
  std::vector<int> given_back; // pieces a worker could not make
  bool stop = false;
  std::exception_ptr failure; // from a worker
  auto work = [&] {
    for (;;) {
      int piece;
      {
        // The next piece waits until its slot is free.
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] {
          return stop || !given_back.empty() || taken == count || taken < consumed + slots;
        });
        if (stop || (given_back.empty() && taken == count)) {
          --live;
          changed.notify_all();
          return;
        }
        if (!given_back.empty()) {
          piece = given_back.back();
          given_back.pop_back();
        } else {
          piece = taken++;
        }
      }
      Slot& slot = ring[static_cast<std::size_t>(piece % slots)];
      try {
        slot.text.clear();
        make(piece, slot.text);
      } catch (const std::bad_alloc&) {
        std::string().swap(slot.text);
        std::lock_guard<std::mutex> guard(lock);
        given_back.push_back(piece);
        --live;
        changed.notify_all();
        return;
      } catch (...) {
        std::lock_guard<std::mutex> guard(lock);
        if (!failure) failure = std::current_exception();
        stop = true;
        --live;
        changed.notify_all();
        return;
      }
      std::lock_guard<std::mutex> guard(lock);
      slot.ready = true;
      changed.notify_all();
    }
  };
  std::vector<Detail::Worker_Thread> threads;
  try {
    threads.reserve(static_cast<std::size_t>(workers));
    while (threads.size() < static_cast<std::size_t>(workers)) {
      {
        std::lock_guard<std::mutex> guard(lock);
        ++live;
      }
      try {
        threads.emplace_back(work);
      } catch (...) {
        std::lock_guard<std::mutex> guard(lock);
        --live;
        throw;
      }
    }
  } catch (...) {
    // Whatever kept the thread from starting, the pieces are still all made.
  }
  std::exception_ptr error;
  try {
    for (int piece = 0; piece < count; ++piece) {
      Slot& slot = ring[static_cast<std::size_t>(piece % slots)];
      bool own = false;
      {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return slot.ready || stop || live == 0; });
        if (!slot.ready && stop) break; // a worker failed
        if (!slot.ready) {
          // No worker is left: every piece before this one is consumed, so
          // this one is the next new piece or one given back.
          own = true;
          const auto back = std::find(given_back.begin(), given_back.end(), piece);
          if (back != given_back.end()) given_back.erase(back);
          else taken = piece + 1;
        }
      }
      if (own) {
        slot.text.clear();
        make(piece, slot.text);
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
  for (Detail::Worker_Thread& t : threads) t.join();
  if (error) std::rethrow_exception(error);
  if (failure) std::rethrow_exception(failure);
}

} // namespace Karvel::Generic::Parallel
