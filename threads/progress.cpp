#include "threads/progress.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

#include "threads/parallel.hpp"

namespace Karvel::Generic::Progress {

using Clock = std::chrono::steady_clock;

struct Access {
  static std::string Line(const Stage& stage);
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

// The caller holds the mutex. Padding covers what is left of a longer line.
void Draw(State& s) {
  if (s.stages.empty()) return Erase(s);
  const std::string line = Access::Line(*s.stages.back());
  Write("\r" + line + std::string(s.shown > line.size() ? s.shown - line.size() : 0, ' '));
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

std::string Access::Line(const Stage& stage) {
  const std::uint64_t total = stage.total_;
  std::uint64_t done = stage.done_.load(std::memory_order_relaxed);
  if (total > 0) done = std::min(done, total);
  const std::uint64_t scale = stage.unit_ == Unit::BYTES ? 1000000 : 1;
  std::string line = "karvel: " + stage.name_ + " " + std::to_string(done / scale);
  if (total > 0) line += "/" + std::to_string(total / scale);
  line += stage.unit_ == Unit::BYTES ? " MB" : " taxa";
  if (total == 0) return line;
  const double rest = static_cast<double>(total - done) / static_cast<double>(total);
  const double share = stage.unit_ == Unit::PAIR_ROWS ? 1.0 - rest * rest : 1.0 - rest;
  line += " " + std::to_string(static_cast<int>(share * 100.0)) + "%";
  if (done == 0 || done == total) return line;
  // What is left at the pace so far.
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stage.start_).count();
  const auto seconds = static_cast<long long>(static_cast<double>(elapsed) / 1000.0 * (1.0 - share) / share);
  line += " ";
  if (seconds >= 3600) line += std::to_string(seconds / 3600) + ":" + Two_Digits(seconds / 60 % 60);
  else line += std::to_string(seconds / 60);
  return line + ":" + Two_Digits(seconds % 60) + " left";
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

std::string Line(const Stage& stage) { return Access::Line(stage); }

} // namespace Testing

} // namespace Karvel::Generic::Progress
