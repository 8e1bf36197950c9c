// A thread the system refuses to start must neither abort the program nor
// change a byte: every stage that starts threads goes on with the ones it
// got, down to none, and gives what one thread gives.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/unit/run_program.hpp"
#include "driver/karvel.hpp"
#include "threads/parallel.hpp"
#include "distance/distfunc.hpp"
#include "write/print.hpp"
#include "read/read.hpp"
#include "tests/unit/test_support.hpp"

using namespace Karvel;

namespace {

namespace Parallel = Generic::Parallel;
namespace Testing = Generic::Parallel::Testing;

struct Restore {
  Test_Support::Settings_Scope settings;
  ~Restore() { Testing::Fail_Starts_From(0); }
};

// Runs `outcome` on one thread, then on `threads` with every start failing
// from the first one it makes, from each later one in turn and from its
// last: always the same text.
template <class Outcome>
void Expect_One_Thread_Result(const char* stage, int threads, Outcome outcome) {
  Restore restore;
  restore.settings.Threads(1);
  const std::string want = outcome();
  restore.settings.Threads(threads);
  Testing::Fail_Starts_From(0);
  ASSERT_EQ(outcome(), want) << stage;
  const int starts = Testing::Starts();
  ASSERT_GE(starts, 2) << stage << " starts no threads: the test would prove nothing";
  for (int nth = 1; nth <= starts; ++nth) {
    Testing::Fail_Starts_From(nth);
    ASSERT_EQ(outcome(), want) << stage << ", every start from the " << nth << "th of " << starts << " failing";
    EXPECT_GE(Testing::Starts(), nth) << stage;
  }
}

std::string Bytes_Of(const Generic::Square_Block& b) {
  return std::string(reinterpret_cast<const char*>(b.Data()),
                     static_cast<std::size_t>(b.Size()) * static_cast<std::size_t>(b.Size()) * sizeof(double));
}

// One record a line, as big as the reader wants before it uses threads.
std::string Real_Text(int taxa, int characters, unsigned seed) {
  std::mt19937 random(seed);
  const char* const numbers[] = {"0", "12.345", "0.5", "1e3", "7", "0.001", "3.25", "999.999"};
  std::string text = std::to_string(taxa) + " " + std::to_string(characters) + "\n";
  for (int t = 0; t < taxa; ++t) {
    text += "taxon_" + std::to_string(t);
    for (int c = 0; c < characters; ++c) text += std::string(" ") + numbers[random() % 8];
    text += '\n';
  }
  return text;
}

TEST(ThreadStart, ARefusedStartIsAStorageError) {
  Restore restore;
  Testing::Fail_Starts_From(2);
  Parallel::Start([] {}).join();
  try {
    Parallel::Start([] {}).join();
    FAIL() << "the second start went through";
  } catch (const Errors::Storage_Error& e) {
    EXPECT_STREQ(e.what(), "cannot start a thread: Resource temporarily unavailable");
  }
  EXPECT_EQ(Testing::Starts(), 2);
}

TEST(ThreadStart, RunAndInOrderDoAllTheWorkWithTheThreadsTheyGet) {
  Restore restore;
  for (int nth = 1; nth <= 4; ++nth) {
    Testing::Fail_Starts_From(nth);
    std::vector<int> ran(5, 0); // each worker apart: no two write the same element
    try {
      Parallel::Run(5, [&](int w) {
        ++ran[static_cast<std::size_t>(w)];
        if (w >= 3) throw std::runtime_error("worker " + std::to_string(w));
      });
      FAIL();
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "worker 3") << nth;
    }
    EXPECT_EQ(ran, std::vector<int>(5, 1)) << nth;

    Testing::Fail_Starts_From(nth);
    std::string all, want;
    Parallel::In_Order(
        50, 4, [](int piece, std::string& text) { text = std::to_string(piece) + ","; },
        [&](const std::string& text) { all += text; });
    for (int piece = 0; piece < 50; ++piece) want += std::to_string(piece) + ",";
    EXPECT_EQ(all, want) << nth;
  }
}

TEST(ThreadStart, EveryStageGivesTheOneThreadResult) {
  // Reader, with the page-populating helper first (its memory is > 1 MiB).
  const std::string text = Real_Text(2000, 100, 1);
  Expect_One_Thread_Result("reader", 3, [&] {
    Text_IO::Text_Input in(text);
    const Phylo::Real_Data_Access data = Phylo::Read::Get(in, Phylo::Read::Input_Format::EXTENDED_PHYLIP);
    const auto values = static_cast<std::size_t>(data->Matrix.Rows()) * 100; // rows of 100 characters
    std::string out(reinterpret_cast<const char*>(data->Matrix.Data()), values * sizeof(double));
    for (const std::string& label : data->Labels) out += label + "\n";
    return out;
  });

  // Distances: the real kernel, and the pair loop with its mirroring for
  // discrete and binary data: enough taxa for three threads in each.
  std::mt19937 random(2);
  Phylo::Real_Matrix real;
  Phylo::Disc_Matrix disc;
  Phylo::Binary_Matrix binary;
  for (int t = 0; t < 600; ++t) {
    for (int c = 0; c < 20; ++c) {
      real.Push(static_cast<double>(random() % 1000) / 8.0);
      disc.Push("ACGT-?"[random() % 6]);
      binary.Push(random() % 3 ? Phylo::Binary::PRESENCE : Phylo::Binary::ABSENCE);
    }
    real.Close_Row();
    disc.Close_Row();
    binary.Close_Row();
  }
  using Phylo::Distfunc::Distances;
  Expect_One_Thread_Result("real distances", 3, [&] {
    return Bytes_Of(Distances(real, Phylo::Distfunc::Real_Formula::EUCLIDEAN, 0.0));
  });
  Expect_One_Thread_Result("discrete distances", 3, [&] {
    return Bytes_Of(Distances(disc, Phylo::Distfunc::Discrete_Formula::MATCHING));
  });
  Expect_One_Thread_Result("binary distances", 3, [&] {
    return Bytes_Of(Distances(binary, Phylo::Distfunc::Binary_Formula::SOERENSEN));
  });

  // Output, pieces made on workers and written in order.
  constexpr int Taxa = 700;
  Phylo::Squared big{Phylo::Taxon_Labels(Taxa)};
  for (int t = 0; t < Taxa; ++t) big.Labels[static_cast<std::size_t>(t)] = "t" + std::to_string(t);
  big.Matrix = Generic::Square_Block(0, Taxa - 1);
  for (int i = 0; i < Taxa; ++i)
    for (int j = 0; j < Taxa; ++j) big.Matrix(i, j) = i == j ? 0.0 : 1.0 / (1 + i + j) + (i * j % 7) * 100.0;
  Expect_One_Thread_Result("output", 3, [&] {
    std::string out;
    Text_IO::Text_Output file(&out);
    Phylo::Print::Put(file, big, Phylo::Print::Dist_Output_Format::EXTENDED_PHYLIP, Phylo::Print::Default_Fore,
                      Phylo::Print::Default_Aft, Phylo::Print::Default_Exp);
    file.Flush();
    return out;
  });
}

using Test_Support::Run_Karvel;
using Test_Support::Run_Result;

// The reported run: a small matrix, then a big one whose threads cannot all
// start. The output of both is complete and the run ends well.
TEST(ThreadStart, TheProgramGoesOnWithTheThreadsItGets) {
  Restore restore;
  const char* const setting = std::getenv("KARVEL_THREADS");
  const std::optional<std::string> saved = setting ? std::optional<std::string>(setting) : std::nullopt;
  ::setenv("KARVEL_THREADS", "3", 1);
  char small[] = "/tmp/karvel_thread_start_XXXXXX";
  char big[] = "/tmp/karvel_thread_start_XXXXXX";
  for (auto [name, text] : {std::pair{small, Real_Text(5, 3, 3)}, std::pair{big, Real_Text(600, 100, 4)}}) {
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
  }
  Testing::Fail_Starts_From(0);
  const Run_Result want = Run_Karvel({"karvel", small, big});
  const int starts = Testing::Starts();
  EXPECT_EQ(want.status, 0);
  EXPECT_EQ(want.err, "");
  EXPECT_GE(starts, 6); // reader, distances and output each start threads
  for (int nth : {1, starts / 2, starts}) {
    Testing::Fail_Starts_From(nth);
    const Run_Result got = Run_Karvel({"karvel", small, big});
    EXPECT_EQ(got.status, 0) << nth;
    EXPECT_EQ(got.err, "") << nth;
    EXPECT_TRUE(got.out == want.out) << "every start from the " << nth << "th failing";
  }
  std::remove(small);
  std::remove(big);
  if (saved)
    ::setenv("KARVEL_THREADS", saved->c_str(), 1);
  else
    ::unsetenv("KARVEL_THREADS");
}

} // namespace
