#include "simd/simd.hpp"

#include <atomic>

namespace Karvel::Generic::Simd {

namespace {

// What each path needs of the processor. These are the features its
// translation units are compiled for (KARVEL_SIMD_FLAGS_* in the top
// CMakeLists.txt); the AVX-512 path keeps to what every AVX-512 server has
// (no vector population count).
bool Detect(Path path) {
  switch (path) {
  case Path::SCALAR:
  case Path::VECTOR: return true;
#if defined(__x86_64__)
  case Path::AVX2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  case Path::AVX512:
    return Detect(Path::AVX2) && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
#else
  case Path::AVX2:
  case Path::AVX512: return false;
#endif
  }
  return false;
}

struct Detected {
  unsigned available; // bit p: path p
  Path best;
};

unsigned Bit(Path path) { return 1u << static_cast<unsigned>(path); }

const Detected& Detection() {
  static const Detected detected = [] {
    Detected d{};
    d.best = Path::SCALAR;
    for (Path p : All_Paths) {
      if (!Detect(p)) continue;
      d.available |= Bit(p);
      d.best = p;
    }
    return d;
  }();
  return detected;
}

std::atomic<int> chosen{-1};

} // namespace

bool Available(Path path) { return (Detection().available & Bit(path)) != 0; }

Path Best() { return Detection().best; }

namespace {
thread_local int call_path = -1;
}

Call_Path::Call_Path(Path path) : previous_(call_path) { call_path = static_cast<int>(Available(path) ? path : Best()); }
Call_Path::~Call_Path() { call_path = previous_; }

Path Current() {
  if (call_path >= 0) return static_cast<Path>(call_path);
  const int c = chosen.load(std::memory_order_relaxed);
  return c < 0 ? Best() : static_cast<Path>(c);
}

void Use(Path path) { chosen.store(static_cast<int>(Available(path) ? path : Best()), std::memory_order_relaxed); }

const char* Name(Path path) {
  switch (path) {
  case Path::SCALAR: return "scalar";
  case Path::VECTOR: return "vector";
  case Path::AVX2: return "avx2";
  case Path::AVX512: return "avx512";
  }
  return "?";
}

std::optional<Path> Parse(std::string_view name) {
  for (Path p : All_Paths)
    if (name == Name(p)) return p;
  return std::nullopt;
}

std::string Names(bool available_only) {
  std::string names;
  for (Path p : All_Paths) {
    if (available_only && !Available(p)) continue;
    if (!names.empty()) names += ", ";
    names += Name(p);
  }
  return names;
}

} // namespace Karvel::Generic::Simd
