#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "threads/parallel.hpp"

using namespace Karvel;

namespace {

TEST(InOrder, PiecesArriveInOrderWhateverTheWorkers) {
  for (int workers : {1, 2, 3, 8}) {
    std::string all;
    Generic::Parallel::In_Order(
        200, workers, [](int piece, std::string& text) { text = std::to_string(piece) + ","; },
        [&](const std::string& text) { all += text; });
    std::string want;
    for (int piece = 0; piece < 200; ++piece) want += std::to_string(piece) + ",";
    EXPECT_EQ(all, want) << workers << " workers";
  }
}

TEST(InOrder, AFailureStopsTheRunAndLeaves) {
  // A write error while consuming: nothing after it is consumed.
  int consumed = 0;
  EXPECT_THROW(Generic::Parallel::In_Order(
                   100, 2, [](int, std::string& text) { text = "x"; },
                   [&](const std::string&) {
                     if (++consumed == 5) throw std::runtime_error("disk full");
                   }),
               std::runtime_error);
  EXPECT_EQ(consumed, 5);
  // A failure while making a piece comes out too, and what came before it
  // was consumed in order.
  std::string all;
  EXPECT_THROW(Generic::Parallel::In_Order(
                   100, 3,
                   [](int piece, std::string& text) {
                     if (piece == 40) throw std::bad_alloc();
                     text = std::to_string(piece) + ",";
                   },
                   [&](const std::string& text) { all += text; }),
               std::bad_alloc);
  EXPECT_EQ(all.rfind("0,1,2,", 0), 0u);
  EXPECT_EQ(all.find("40,"), std::string::npos);
}

// A worker without memory for its piece leaves and gives the piece back:
// the others, and in the end the calling thread, make every piece, in order.
TEST(InOrder, WorkersWithoutMemoryLeaveTheirPiecesToTheOthers) {
  const std::thread::id caller = std::this_thread::get_id();
  std::string want;
  for (int piece = 0; piece < 300; ++piece) want += std::to_string(piece) + ",";
  for (int failing_every : {1, 7}) {
    std::atomic<int> refused{0};
    std::string all;
    Generic::Parallel::In_Order(
        300, 6,
        [&](int piece, std::string& text) {
          text = "partial";
          // Every worker thread, or some of them now and then.
          if (std::this_thread::get_id() != caller && piece % failing_every == 0) {
            ++refused;
            throw std::bad_alloc();
          }
          text = std::to_string(piece) + ",";
        },
        [&](const std::string& text) { all += text; });
    EXPECT_EQ(all, want) << failing_every;
    EXPECT_GT(refused.load(), 0);
    EXPECT_LE(refused.load(), 6); // each worker leaves at its first refusal
  }
}

TEST(Run, EveryWorkerRunsAndTheLowestFailureWins) {
  std::atomic<int> ran{0};
  Generic::Parallel::Run(5, [&](int) { ++ran; });
  EXPECT_EQ(ran.load(), 5);
  try {
    Generic::Parallel::Run(4, [](int w) {
      if (w >= 2) throw std::runtime_error("worker " + std::to_string(w));
    });
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "worker 2");
  }
}

} // namespace
