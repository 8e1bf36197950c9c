#pragma once
// The layouts a matrix is read in, named apart from the readers so that each
// reader can take them without depending on the others.

#include <string_view>

#include "karvel/karvel.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Read {

// The library's enumeration (karvel/karvel.hpp), which names every layout
// the program reads, so that the library and the readers cannot drift apart.
// Interleaved PHYLIP: a first block of one line per taxon, its label (ten
// columns, or one word) and the first values, then blocks of one line of
// values per taxon in the same order, up to the number of characters.
// Tables (CSV, TSV, CSV2: ';' between cells, decimal commas, as R's
// read.csv2) have a header row of character names, then label and values
// (read/read_table.hpp); one matrix is the whole input. NEXUS and FASTA
// inputs hold one matrix each and are read whole, by their own readers
// (read/read_nexus.hpp, read/read_fasta.hpp).
using Input_Format = Karvel::Lib::Input_Layout;

// The names of the formats, as --from and the library take them, in the
// order --help lists them. A new format is one row here.
struct Input_Format_Name {
  std::string_view Name;
  Input_Format Format;
};
inline constexpr Input_Format_Name Input_Format_Names[] = {
    {"phylip", Input_Format::PHYLIP},
    {"extended", Input_Format::EXTENDED_PHYLIP},
    {"commented", Input_Format::COMMENTED_PHYLIP},
    {"phylip-interleaved", Input_Format::PHYLIP_INTERLEAVED},
    {"extended-interleaved", Input_Format::EXTENDED_INTERLEAVED},
    {"csv", Input_Format::CSV},
    {"tsv", Input_Format::TSV},
    {"csv2", Input_Format::CSV2},
    {"nexus", Input_Format::NEXUS},
    {"fasta", Input_Format::FASTA},
};

// How a matrix is read beyond its layout: the first two concern tables
// (CSV, TSV, CSV2) only, the rule for missing values every reader of
// numbers.
struct Table_Options {
  // The first column holds the labels; without, every column is a character
  // and the taxa are named 1, 2, ... (write.csv(row.names = FALSE),
  // to_csv(index = False)).
  bool labels = true;
  // Numbers are written with a decimal comma (always for CSV2).
  bool decimal_comma = false;
  // PAIRWISE: NA, ?, NaN (any case), N/A, an empty table cell, a table's
  // null and a NEXUS matrix's missing symbol are read into a continuous
  // matrix as a quiet NaN; ERROR refuses them.
  Missing_Rule missing = Missing_Rule::ERROR;

  bool operator==(const Table_Options&) const = default;
};

// What a refused missing value adds to its message, after the input's name.
inline constexpr const char* Missing_Value_Hint =
    "holds missing values; --missing=pairwise keeps them and leaves them out pair by pair";

} // namespace Karvel::Phylo::Read
