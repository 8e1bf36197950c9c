#pragma once
// The process-wide settings tests turn: the instruction-set path every
// kernel family takes and the number of threads. A Settings_Scope puts back
// what was set before when it ends, failed assertion or not, so no test
// leaves its choice to the next.

#include "threads/parallel.hpp"
#include "simd/simd.hpp"

namespace Karvel::Test_Support {

class Settings_Scope {
public:
  Settings_Scope() = default;
  Settings_Scope(Generic::Simd::Path path, int threads) {
    Path(path);
    Threads(threads);
  }
  ~Settings_Scope() {
    Generic::Simd::Use(path_);
    Generic::Parallel::Set_Threads(threads_);
  }
  Settings_Scope(const Settings_Scope&) = delete;
  Settings_Scope& operator=(const Settings_Scope&) = delete;

  // `path` must be available (Generic::Simd::Available).
  void Path(Generic::Simd::Path path) { Generic::Simd::Use(path); }
  void Threads(int threads) { Generic::Parallel::Set_Threads(threads); }

private:
  Generic::Simd::Path path_ = Generic::Simd::Current();
  int threads_ = Generic::Parallel::Threads();
};

} // namespace Karvel::Test_Support
