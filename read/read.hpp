#pragma once
// Reading character matrices in the PHYLIP-like layouts.

#include <cstddef>
#include <string>
#include <string_view>

#include "generic/text_io.hpp"
#include "model/model.hpp"
#include "textutils/textutils.hpp"

namespace Phylo::Read {

enum class Input_Format {
  COMMENTED_PHYLIP,
  EXTENDED_PHYLIP,
  PHYLIP,
  // Interleaved PHYLIP: a first block of one line per taxon, its label (ten
  // columns, or one word) and the first values, then blocks of one line of
  // values per taxon in the same order, up to the number of characters.
  PHYLIP_INTERLEAVED,
  EXTENDED_INTERLEAVED,
  // Tables with a header row of character names, then label and values
  // (read/read_table.hpp); one matrix is the whole input.
  CSV,
  TSV,
  // R's read.csv2 convention: ';' between cells, decimal commas.
  CSV2,
  // NEXUS and FASTA inputs hold one matrix each and are read whole, by their
  // own readers (read/read_nexus.hpp, read/read_fasta.hpp).
  NEXUS,
  FASTA,
};

// The space and the ASCII control characters (0..32, 127): where labels end
// and, for discrete data, what lies between values.
const TextUtils::Character_Set& Whitespace();

// How a table (CSV, TSV, CSV2) is read beyond its separator.
struct Table_Options {
  // The first column holds the labels; without, every column is a character
  // and the taxa are named 1, 2, ... (write.csv(row.names = FALSE),
  // to_csv(index = False)).
  bool labels = true;
  // Numbers are written with a decimal comma (always for CSV2).
  bool decimal_comma = false;

  bool operator==(const Table_Options&) const = default;
};

// Reads one matrix of discrete characters; every character outside
// `whitespace` is a value.
Disc_Data_Access Get(Text_IO::Text_Input& file, Input_Format format,
                     const TextUtils::Character_Set& whitespace, Table_Options table = {});
// Reads one matrix of real numbers.
Real_Data_Access Get(Text_IO::Text_Input& file, Input_Format format, Table_Options table = {});

// Numbers as they stand in matrix files. Both skip spaces, tabs, carriage
// returns and line feeds first (End_Error when nothing else is left) and
// leave the character after the number in the stream.
// An optionally signed decimal integer in the 32-bit range, else Data_Error.
int Read_Integer(Text_IO::Text_Input& file);
// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits], rounded to the
// nearest double; a missing digit or a value beyond the double range is a
// Data_Error.
double Read_Real(Text_IO::Text_Input& file);

// The real number at the very start of `text`, in Read_Real's layout and
// rounding, for readers that find their numbers themselves: its length (0
// when the text does not start with one) and value; `too_large` when it is
// beyond the double range.
struct Real_Prefix {
  std::size_t length = 0;
  double value = 0.0;
  bool too_large = false;
};
inline Real_Prefix Scan_Real_Prefix(std::string_view text);

} // namespace Phylo::Read

#include "read/read_number.hpp"

namespace Phylo::Read {

inline Real_Prefix Scan_Real_Prefix(std::string_view text) {
  using namespace Number_Text;
  Real_Prefix found;
  bool exact = false;
  if (Scan_Real(text.data(), text.size(), true, found.length, exact, found.value) != Scan::NUMBER) return {};
  if (!exact)
    found.too_large = Convert_Real(text.data(), text.data() + found.length, found.value) == Conversion::TOO_LARGE;
  return found;
}

} // namespace Phylo::Read
