#pragma once
// The instruction sets karvel has kernels for, which of them this processor
// runs, and the one every kernel family takes. Every family is compiled once
// per set; all of them follow the one path chosen here, so forcing a path
// (KARVEL_SIMD, tests) changes every family at once.

#include <optional>
#include <string>
#include <string_view>

namespace Karvel::Generic::Simd {

// From the plainest to the widest; the CPU features each needs are listed
// once, in simd.cpp, and match the compile flags of its translation units.
enum class Path { SCALAR, VECTOR, AVX2, AVX512 };
inline constexpr Path All_Paths[] = {Path::SCALAR, Path::VECTOR, Path::AVX2, Path::AVX512};

// Whether this processor (and its operating system) runs a path; detected
// once, on first use.
bool Available(Path path);
// The widest available path.
Path Best();
// The path the kernels take: Best() unless Use() chose another.
Path Current();
// Chooses the path of every kernel family; `path` must be available.
void Use(Path path);

// The path of one call of the library, on the calling thread and as long as
// this lives (the kernels choose their path there): Current() answers it
// there, whatever Use() has chosen for the process. `path` must be available.
class Call_Path {
public:
  explicit Call_Path(Path path);
  ~Call_Path();
  Call_Path(const Call_Path&) = delete;
  Call_Path& operator=(const Call_Path&) = delete;

private:
  int previous_;
};

// "scalar", "vector", "avx2", "avx512", and back.
const char* Name(Path path);
std::optional<Path> Parse(std::string_view name);
// The names of the available paths, or of all paths: "scalar, vector, avx2".
std::string Names(bool available_only);

} // namespace Karvel::Generic::Simd
