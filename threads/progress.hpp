#pragma once
// Progress of the long stages, shown on standard error while a run lasts:
// one line, rewritten in place, erased when its stage or the run ends, so
// that nothing of it stays on the terminal and nothing reaches standard
// output. Stages report from any thread; without a display they cost a
// relaxed atomic add per report.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Karvel::Generic::Progress {

// AUTO shows progress only when standard error is a terminal and standard
// output is none: on a terminal the line would be drawn over the output.
enum class Mode { AUTO, ON, OFF };

// What a stage counts: taxa (rows of a matrix), bytes (shown in MB), or
// the taxa of a distance matrix whose pairs are done, those with the most
// pairs first: the first taxa take the longest, so these are shown as the
// pairs they hold.
enum class Unit { TAXA, BYTES, PAIR_ROWS };

// The display: while one lives (the program makes one), a thread draws the
// innermost live stage about four times a second, once the run has lasted
// about a second. Its end erases the line.
class Display {
public:
  explicit Display(Mode mode);
  ~Display();
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;
};

// A stage of work: `total` units (0 when not known beforehand). Stages nest
// (reading a file, then the distances of one of its matrices); the display
// shows the innermost. Made and ended on one thread; Advance may be called
// from any while it lives.
class Stage {
public:
  Stage(std::string name, std::uint64_t total, Unit unit);
  ~Stage();
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  void Advance(std::uint64_t units) noexcept { done_.fetch_add(units, std::memory_order_relaxed); }

private:
  friend struct Access;
  std::string name_;
  std::uint64_t total_;
  Unit unit_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<std::uint64_t> done_{0};
  bool listed_ = false;
};

// The line of a stage that has done `done` of `total` units in `elapsed`,
// cut to fit `width` columns (0: uncut) short of the last one. PAIR_ROWS
// stages count rows and are shown as the pairs those rows hold. The time
// left is shown once both this share of the work and this time have passed.
inline constexpr double Estimate_After_Share = 0.05;
inline constexpr std::chrono::milliseconds Estimate_After_Time{2000};
std::string Format(std::string_view name, std::uint64_t done, std::uint64_t total, Unit unit,
                   std::chrono::milliseconds elapsed, std::size_t width);

// Runs `print` (which writes whole lines to standard error) with the
// progress line out of its way: erased before, drawn again later.
void Print_Above(const std::function<void()>& print);

namespace Testing {
// How long the display waits before the first line, and between lines.
void Set_Timing(std::chrono::milliseconds delay, std::chrono::milliseconds period);
// The line the display draws for the stage now.
std::string Line(const Stage& stage);
} // namespace Testing

} // namespace Karvel::Generic::Progress
