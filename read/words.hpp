#pragma once
// The blanks and numbers of matrix text, as every reader takes them: the
// PHYLIP-like reader (read_phylip.cpp, where they are defined) and the NEXUS
// and table readers read their numbers through these, so that a number reads
// to the same double wherever it stands.

#include <cstddef>
#include <string_view>

#include "text/text_io.hpp"
#include "read/read_number.hpp"
#include "text/char_sets.hpp"

namespace Karvel::Phylo::Read {

// Where a word ends: ASCII controls and the space. Bytes from 128 up belong
// to UTF-8 labels.
constexpr bool Is_Blank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 32 || u == 127;
}

// The space and the ASCII control characters (0..32, 127): where labels end
// and, for discrete data, what lies between values.
const TextUtils::Character_Set& Whitespace();

// Numbers as they stand in matrix files. Both skip spaces, tabs, carriage
// returns and line feeds first (End_Error when nothing else is left) and
// leave the character after the number in the stream.
// An optionally signed decimal integer in the 32-bit range, else Data_Error.
int Read_Integer(Text_IO::Text_Input& file);
// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits], rounded to the
// nearest double; a missing digit or a value beyond the double range is a
// Data_Error.
double Read_Real(Text_IO::Text_Input& file);

// The words other programs write for a missing value, any case: NA, NaN,
// N/A, ?. A table also takes an empty cell and null; NEXUS its own symbol.
bool Is_Missing_Value_Word(std::string_view word);

// The real number at the very start of `text`, in Read_Real's layout and
// rounding, for readers that find their numbers themselves: its length (0
// when the text does not start with one) and value; `too_large` when it is
// beyond the double range.
struct Real_Prefix {
  std::size_t length = 0;
  double value = 0.0;
  bool too_large = false;
};
inline Real_Prefix Scan_Real_Prefix(std::string_view text) {
  using namespace Number_Text;
  Real_Prefix found;
  bool exact = false;
  if (Scan_Real(text.data(), text.size(), true, found.length, exact, found.value) != Scan::NUMBER) return {};
  if (!exact)
    found.too_large = Convert_Real(text.data(), text.data() + found.length, found.value) == Conversion::TOO_LARGE;
  return found;
}

} // namespace Karvel::Phylo::Read
