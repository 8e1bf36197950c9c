#pragma once
// The number layout, kept inline: it runs once per cell of a distance matrix.

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>

#include "format/fixed_format.hpp"
#include "write/print.hpp"
#include "text/text_io.hpp"

namespace Karvel::Phylo::Print::Detail {

// Fixed notation of any finite double needs at most a sign, 309 integer
// digits and the point before the decimals; scientific notation needs less.
inline constexpr std::size_t Number_Room = 1 + 309 + 1;

// Writes `value` rounded to `aft` decimals (at least one) straight into the
// output buffer, sign and integer part right-aligned in `fore` characters;
// a larger integer part widens the field. With exp > 0 the value is written
// in scientific notation instead, aligned the same way. Aft No_Point_Aft rounds
// to a whole number written without a point, Shortest_Aft writes the shortest
// text that reads back to the value; the characters before the point or
// the exponent count as the integer part.
inline void Put_Number(Text_IO::Text_Output& file, double value, int fore, int aft, int exp) {
  // -0.0 is not negative and gets no minus sign; values that round to zero
  // from below keep theirs.
  if (value == 0.0) value = 0.0;
  // The layout every distance and data value of the program uses.
  if (exp == 0 && aft == 8 && fore <= 16) {
    Format::Fixed8 v;
    if (Format::Decompose_Fixed8(value, v)) {
      char* const out = file.Reserve(64);
      file.Commit(static_cast<std::size_t>(Format::Put_Fixed8(out, v, fore) - out));
      return;
    }
  }
  const std::size_t field = static_cast<std::size_t>(std::max(fore, 0));
  const int decimals = std::max(aft, 1);
  // A pair without a distance: NaN, right-aligned where a fixed-point
  // number of the layout would stand; where the decimals have no fixed
  // count, in the field of the integer part.
  if (value != value) {
    const bool fixed_decimals = exp == 0 && aft != Shortest_Aft && aft != No_Point_Aft;
    const std::size_t width = fixed_decimals ? field + 1 + static_cast<std::size_t>(decimals) : field;
    if (width > 3) file.Put_Spaces(width - 3);
    file.Put("NaN");
    return;
  }
  const std::size_t room = field + Number_Room + static_cast<std::size_t>(decimals);
  char* const out = file.Reserve(room);
  char* end;
  if (aft == Shortest_Aft)
    end = std::to_chars(out, out + room, value).ptr;
  else if (aft == No_Point_Aft)
    end = std::to_chars(out, out + room, value, std::chars_format::fixed, 0).ptr;
  else if (exp > 0)
    end = std::to_chars(out, out + room, value, std::chars_format::scientific, decimals).ptr;
  else
    end = Format::Format_Fixed(out, out + room, value, decimals);
  std::size_t length = static_cast<std::size_t>(end - out);
  // Without a point or an exponent (whole numbers, inf, nan) the whole text
  // counts as the integer part.
  std::size_t integer = 0;
  while (integer < length && out[integer] != '.' && out[integer] != 'e') ++integer;
  if (integer < field) {
    const std::size_t pad = field - integer;
    std::memmove(out + pad, out, length);
    std::memset(out, ' ', pad);
    length += pad;
  }
  file.Commit(length);
}

} // namespace Karvel::Phylo::Print::Detail
