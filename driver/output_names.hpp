#pragma once
// The names of the text layouts for --to=, in the order --help lists them:
// the eight of the letters, then the tables the letters have no name for.
// A new text layout is one row here.

#include <optional>
#include <string_view>
#include <vector>

#include "write/print.hpp"

namespace Karvel {

struct Output_Name {
  std::string_view Name;
  Phylo::Print::Dist_Output_Format Format;
};

inline constexpr Output_Name Text_Output_Names[] = {
    {"extended", Phylo::Print::Dist_Output_Format::EXTENDED_PHYLIP},
    {"phylip", Phylo::Print::Dist_Output_Format::PHYLIP},
    {"nexus", Phylo::Print::Dist_Output_Format::NEXUS},
    {"nexus-quoted", Phylo::Print::Dist_Output_Format::NEXUS_ENCLOSED},
    {"tab", Phylo::Print::Dist_Output_Format::TAB_SEPARATED},
    {"pairs", Phylo::Print::Dist_Output_Format::ONE_COLUMN},
    {"labels", Phylo::Print::Dist_Output_Format::LABELS},
    {"raw", Phylo::Print::Dist_Output_Format::RAW},
    {"lsmat", Phylo::Print::Dist_Output_Format::LSMAT},
    {"csv", Phylo::Print::Dist_Output_Format::CSV},
    // The same table as lsmat: with -W it is the data table beside csv.
    {"tsv", Phylo::Print::Dist_Output_Format::LSMAT},
    {"phylip-lower", Phylo::Print::Dist_Output_Format::PHYLIP_LOWER},
    {"fasta", Phylo::Print::Dist_Output_Format::FASTA},
};

// The layout of a name of the table, or none.
inline std::optional<Phylo::Print::Dist_Output_Format> Text_Output_Named(std::string_view name) {
  for (const Output_Name& row : Text_Output_Names)
    if (row.Name == name) return row.Format;
  return std::nullopt;
}

} // namespace Karvel
