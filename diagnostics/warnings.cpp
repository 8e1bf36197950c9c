#include "diagnostics/warnings.hpp"

#include <mutex>
#include <utility>

#include "karvel/utf8.hpp"

namespace Karvel::Generic::Warnings {

namespace {
std::mutex lock;
Sink sink;
} // namespace

void Set_Sink(Sink new_sink) {
  const std::lock_guard<std::mutex> guard(lock);
  sink = std::move(new_sink);
}

void Issue(const std::string& message) {
  // One at a time, so that lines from different threads never interleave.
  const std::lock_guard<std::mutex> guard(lock);
  // Warnings quote labels and cells: shown safe for a terminal here, once
  // for every stage that issues them.
  if (sink) sink(Karvel::Utf8::Shown(message));
}

} // namespace Karvel::Generic::Warnings
