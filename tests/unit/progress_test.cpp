#include <gtest/gtest.h>

#include <chrono>
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
  const std::string quarter = Progress::Testing::Line(reading);
  EXPECT_EQ(quarter.rfind("karvel: reading 2/10 MB 25% ", 0), 0u) << quarter;
  EXPECT_EQ(quarter.substr(quarter.size() - 5), " left");
  reading.Advance(9'000'000); // more than announced: the file grew
  EXPECT_EQ(Progress::Testing::Line(reading), "karvel: reading 10/10 MB 100%");

  Progress::Stage piped("reading", 0, Progress::Unit::BYTES);
  piped.Advance(3'200'000);
  EXPECT_EQ(Progress::Testing::Line(piped), "karvel: reading 3 MB");

  // Half the rows of a distance matrix, the longer half, are three
  // quarters of its pairs.
  Progress::Stage distances("distances", 200, Progress::Unit::PAIR_ROWS);
  distances.Advance(100);
  EXPECT_EQ(Progress::Testing::Line(distances).rfind("karvel: distances 100/200 taxa 75% ", 0), 0u);
  Progress::Stage writing("writing", 200, Progress::Unit::TAXA);
  writing.Advance(100);
  EXPECT_EQ(Progress::Testing::Line(writing).rfind("karvel: writing 100/200 taxa 50% ", 0), 0u);
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
