#include "generic/warnings.hpp"

#include <mutex>
#include <utility>

namespace Generic::Warnings {

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
  if (sink) sink(message);
}

} // namespace Generic::Warnings
