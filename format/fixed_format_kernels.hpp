#pragma once
// The batch number writers, compiled once per instruction set
// (fixed_format_<path>.cpp, with that path's flags) and reached through one
// table a path. Kept apart from fixed_format.hpp so that those units see no
// inline function another unit also compiles.

#include <cstddef>

#include "simd/simd.hpp"

namespace Karvel::Format {

// Writes values[0..) as the distance layout does, each after a tab, with
// Fore 2 and 8 decimals, for as many whole groups of values at the start as
// the vector method takes (at most `count`); advances `out` and returns how
// many it wrote. The caller writes the value that stopped it (if any) the
// general way and goes on. 14 bytes a value must be free at `out`.
using Tabbed_Writer = std::size_t (*)(char*& out, const double* values, std::size_t count);
// The batch writers of an instruction-set path; Put_Tabbed is null on paths
// without one. The path is by default the one every kernel family takes.
struct Format_Kernels {
  Tabbed_Writer Put_Tabbed;
};
const Format_Kernels& Format_Kernels_Of(Generic::Simd::Path path = Generic::Simd::Current());

} // namespace Karvel::Format
