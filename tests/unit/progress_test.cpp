#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/unit/run_program.hpp"
#include "driver/karvel.hpp"
#include "threads/progress.hpp"

using namespace Karvel;

namespace {

namespace Progress = Generic::Progress;

TEST(Progress, LineCountsTheUnitsAndAllowsForHeavyFirstRows) {
  Progress::Stage reading("reading", 10'000'000, Progress::Unit::BYTES);
  EXPECT_EQ(Progress::Testing::Line(reading), "karvel: reading 0/10 MB 0%");
  reading.Advance(2'500'000);
  // Too soon for the time left.
  EXPECT_EQ(Progress::Testing::Line(reading), "karvel: reading 2/10 MB 25%");
  reading.Advance(9'000'000); // more than announced: the file grew
  EXPECT_EQ(Progress::Testing::Line(reading), "karvel: reading 10/10 MB 100%");

  Progress::Stage piped("reading", 0, Progress::Unit::BYTES);
  piped.Advance(3'200'000);
  EXPECT_EQ(Progress::Testing::Line(piped), "karvel: reading 3 MB");

  // Half the rows of a distance matrix, the longer half, are three
  // quarters of its pairs: the line counts pairs, so count and share agree.
  Progress::Stage distances("distances", 200, Progress::Unit::PAIR_ROWS);
  distances.Advance(100);
  EXPECT_EQ(Progress::Testing::Line(distances), "karvel: distances 14950/19900 pairs 75%");
  Progress::Stage writing("writing", 200, Progress::Unit::TAXA);
  writing.Advance(100);
  EXPECT_EQ(Progress::Testing::Line(writing), "karvel: writing 100/200 taxa 50%");
}

TEST(Progress, TimeLeftOnlyOnceEnoughIsMeasuredAndNeverWiderThanTheTerminal) {
  using std::chrono::milliseconds;
  const auto line = [](std::uint64_t done, std::uint64_t total, Progress::Unit unit, long long ms,
                       std::size_t width = 0) {
    return Progress::Format("distances", done, total, unit, milliseconds(ms), width);
  };
  // Too little done, or too soon, for a pace worth extrapolating.
  EXPECT_EQ(line(4, 100, Progress::Unit::TAXA, 60'000), "karvel: distances 4/100 taxa 4%");
  EXPECT_EQ(line(50, 100, Progress::Unit::TAXA, 1'999), "karvel: distances 50/100 taxa 50%");
  EXPECT_EQ(line(5, 100, Progress::Unit::TAXA, 2'000), "karvel: distances 5/100 taxa 5% 0:38 left");
  EXPECT_EQ(line(25, 100, Progress::Unit::TAXA, 1'200'000), "karvel: distances 25/100 taxa 25% 1:00:00 left");
  EXPECT_EQ(line(100, 100, Progress::Unit::TAXA, 9'000), "karvel: distances 100/100 taxa 100%");
  // The last row holds no pair; every pair is done before it.
  EXPECT_EQ(line(1, 1, Progress::Unit::PAIR_ROWS, 0), "karvel: distances 0/0 pairs 100%");
  EXPECT_EQ(line(3, 4, Progress::Unit::PAIR_ROWS, 0), "karvel: distances 6/6 pairs 100%");
  EXPECT_EQ(line(1, 4, Progress::Unit::PAIR_ROWS, 0), "karvel: distances 3/6 pairs 50%");

  // Cut short of the last column, where a terminal would wrap.
  const std::string whole = line(1088, 8000, Progress::Unit::PAIR_ROWS, 10'000);
  EXPECT_EQ(whole, "karvel: distances 8111584/31996000 pairs 25% 0:29 left");
  for (std::size_t width : {std::size_t{1}, std::size_t{2}, std::size_t{20}, whole.size(), whole.size() + 1}) {
    const std::string cut = line(1088, 8000, Progress::Unit::PAIR_ROWS, 10'000, width);
    EXPECT_EQ(cut, whole.substr(0, std::min(whole.size(), width - 1))) << width;
  }
}

using Test_Support::Run_Karvel;
using Test_Support::Run_Result;

// With no delay, every stage shows as it begins, so the lines are there
// however fast the machine. Each is drawn over the last with a carriage
// return, the last is erased, and standard output does not change.
TEST(Progress, TheProgramDrawsOnlyOnStandardErrorAndLeavesItErased) {
  std::string text = "300 12\n";
  for (int t = 0; t < 300; ++t) {
    text += "taxon" + std::to_string(t);
    for (int c = 0; c < 12; ++c) text += " " + std::to_string((t * 31 + c * 17) % 97) + ".5";
    text += "\n";
  }
  char name[] = "/tmp/karvel_progress_XXXXXX";
  const int fd = ::mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);

  Progress::Testing::Set_Timing(std::chrono::milliseconds(0), std::chrono::milliseconds(1));
  const Run_Result quiet = Run_Karvel({"karvel", "-b", name});
  const Run_Result shown = Run_Karvel({"karvel", "--progress", "-b", name});
  const Run_Result off = Run_Karvel({"karvel", "--no-progress", "--progress", "-b", name});
  Progress::Testing::Set_Timing(std::chrono::milliseconds(1000), std::chrono::milliseconds(250));
  std::remove(name);

  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(off.err, "");
  EXPECT_EQ(shown.status, 0);
  EXPECT_TRUE(shown.out == quiet.out && off.out == quiet.out);
  for (const char* stage : {"\rkarvel: reading ", "\rkarvel: distances ", "\rkarvel: writing "})
    EXPECT_NE(shown.err.find(stage), std::string::npos) << stage;
  EXPECT_EQ(shown.err.find('\n'), std::string::npos);
  // The end: a carriage return, blanks over the longest line, another one.
  const std::size_t last_line = shown.err.rfind("\rkarvel: ");
  const std::size_t erased = shown.err.find_last_not_of(' ', shown.err.size() - 2);
  ASSERT_NE(last_line, std::string::npos);
  EXPECT_EQ(shown.err.back(), '\r');
  EXPECT_GT(erased, last_line);
  EXPECT_EQ(shown.err[erased], '\r');
  std::string drawn = shown.err.substr(last_line + 1, shown.err.find('\r', last_line + 1) - last_line - 1);
  drawn.erase(drawn.find_last_not_of(' ') + 1);
  EXPECT_GE(shown.err.size() - 2 - erased, drawn.size());
}

} // namespace
