#include "threads/progress.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#include "threads/parallel.hpp"

namespace Karvel::Generic::Progress {

using Clock = std::chrono::steady_clock;

struct Access {
  static std::string Line(const Stage& stage, std::size_t width);
};

namespace {

struct State {
  std::mutex mutex;
  std::condition_variable wake;
  std::vector<const Stage*> stages; // the live ones, innermost last
  bool stopping = false;
  std::size_t shown = 0; // width of the line now on the terminal, 0 for none
  Clock::time_point run_start;
  std::chrono::milliseconds delay{1000};
  std::chrono::milliseconds period{250};
  std::thread thread;
};

State& The_State() {
  static State state;
  return state;
}

// Whether a display lives: what a stage looks at before anything else.
std::atomic<bool> Active{false};

void Write(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return; // a progress line is not worth an error
    at += static_cast<std::size_t>(n);
  }
}

// The caller holds the mutex.
void Erase(State& s) {
  if (s.shown == 0) return;
  Write("\r" + std::string(s.shown, ' ') + "\r");
  s.shown = 0;
}

// The columns of the terminal on standard error, asked each time, as the
// window may be resized while a run lasts; else COLUMNS, else 80.
std::size_t Terminal_Width() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) {
    std::size_t n = 0;
    const std::string_view text(columns);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error == std::errc() && end == text.data() + text.size() && n > 0) return n;
  }
  return 80;
}

// The caller holds the mutex. Padding covers what is left of a longer line,
// and stays short of the terminal's last column as the line does.
void Draw(State& s) {
  if (s.stages.empty()) return Erase(s);
  const std::size_t width = Terminal_Width();
  const std::string line = Access::Line(*s.stages.back(), width);
  const std::size_t padded = std::min(std::max(s.shown, line.size()), width - 1);
  Write("\r" + line + std::string(padded - line.size(), ' '));
  s.shown = line.size();
}

// (A terminal on standard output is taken to be the same one: /dev/tty and
// the terminal's own device name one terminal under two numbers.)
bool Terminal_Of_Its_Own() { return ::isatty(STDERR_FILENO) && !::isatty(STDOUT_FILENO); }

bool Past_Delay(const State& s) { return Clock::now() - s.run_start >= s.delay; }

void Show(State& s) {
  std::unique_lock lock(s.mutex);
  while (!s.stopping) {
    s.wake.wait_for(lock, s.period);
    if (!s.stopping && Past_Delay(s)) Draw(s);
  }
}

std::string Two_Digits(long long n) { return (n < 10 ? "0" : "") + std::to_string(n); }

} // namespace

namespace {

// Distances: row i of n (those with the most pairs first) holds n - 1 - i
// pairs, so the first d rows hold d (n - 1) - d (d - 1) / 2 of them.
std::uint64_t Pairs_Of_Rows(std::uint64_t rows, std::uint64_t n) {
  if (rows == 0) return 0;
  return rows * (n - 1) - rows * (rows - 1) / 2;
}

} // namespace

std::string Format(std::string_view name, std::uint64_t done, std::uint64_t total, Unit unit,
                   std::chrono::milliseconds elapsed, std::size_t width) {
  // A total of 0 is one not known beforehand.
  const bool known = total > 0;
  if (known) done = std::min(done, total);
  // The count and the share are of the one unit the line names.
  std::string_view unit_name = " taxa";
  std::uint64_t scale = 1;
  if (unit == Unit::BYTES) {
    unit_name = " MB";
    scale = 1000000;
  } else if (unit == Unit::PAIR_ROWS && known) {
    unit_name = " pairs";
    done = Pairs_Of_Rows(done, total);
    total = Pairs_Of_Rows(total, total);
  }
  std::string line = "karvel: " + std::string(name) + " " + std::to_string(done / scale);
  if (known) line += "/" + std::to_string(total / scale);
  line += unit_name;
  if (known) {
    const double share = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    line += " " + std::to_string(static_cast<int>(share * 100.0)) + "%";
    // A pace measured over less than this foretells little: the first
    // seconds hold the start of the threads and the slow first blocks.
    if (done < total && share >= Estimate_After_Share && elapsed >= Estimate_After_Time) {
      const long long seconds = std::llround(static_cast<double>(elapsed.count()) / 1000.0 * (1.0 - share) / share);
      line += " ";
      if (seconds >= 3600) line += std::to_string(seconds / 3600) + ":" + Two_Digits(seconds / 60 % 60);
      else line += std::to_string(seconds / 60);
      line += ":" + Two_Digits(seconds % 60) + " left";
    }
  }
  // A line as wide as the terminal moves the cursor to the next one on
  // some terminals, and the carriage return then leaves a trail of lines.
  if (width > 0 && line.size() >= width) line.resize(width - 1);
  return line;
}

std::string Access::Line(const Stage& stage, std::size_t width) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stage.start_);
  return Format(stage.name_, stage.done_.load(std::memory_order_relaxed), stage.total_, stage.unit_, elapsed, width);
}

Display::Display(Mode mode) {
  if (mode == Mode::OFF || (mode == Mode::AUTO && !Terminal_Of_Its_Own())) return;
  State& s = The_State();
  std::lock_guard lock(s.mutex);
  s.stopping = false;
  s.run_start = Clock::now();
  try {
    s.thread = Parallel::Start(Show, std::ref(s));
  } catch (const Errors::Storage_Error&) {
    return; // the run goes on without a display
  }
  Active.store(true, std::memory_order_relaxed);
}

Display::~Display() {
  State& s = The_State();
  if (!s.thread.joinable()) return;
  {
    std::lock_guard lock(s.mutex);
    s.stopping = true;
    Active.store(false, std::memory_order_relaxed);
  }
  s.wake.notify_all();
  s.thread.join();
  std::lock_guard lock(s.mutex);
  Erase(s);
  s.stages.clear();
}

Stage::Stage(std::string name, std::uint64_t total, Unit unit)
    : name_(std::move(name)), total_(total), unit_(unit), start_(Clock::now()) {
  if (!Active.load(std::memory_order_relaxed)) return;
  State& s = The_State();
  std::lock_guard lock(s.mutex);
  s.stages.push_back(this);
  listed_ = true;
  // A stage that begins once the display is under way shows at once.
  if (Past_Delay(s)) Draw(s);
}

Stage::~Stage() {
  if (!listed_) return;
  State& s = The_State();
  std::lock_guard lock(s.mutex);
  const auto at = std::find(s.stages.begin(), s.stages.end(), this);
  if (at == s.stages.end()) return; // the display ended first
  s.stages.erase(at);
  Erase(s);
}

void Print_Above(const std::function<void()>& print) {
  State& s = The_State();
  std::lock_guard lock(s.mutex);
  Erase(s);
  print();
}

namespace Testing {

void Set_Timing(std::chrono::milliseconds delay, std::chrono::milliseconds period) {
  State& s = The_State();
  std::lock_guard lock(s.mutex);
  s.delay = delay;
  s.period = period;
}

std::string Line(const Stage& stage) { return Access::Line(stage, 0); }

} // namespace Testing

} // namespace Karvel::Generic::Progress
