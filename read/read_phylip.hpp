#pragma once
// Reading the PHYLIP-like layouts: sequential, interleaved, extended and
// commented PHYLIP.

#include "text/text_io.hpp"
#include "model/model.hpp"
#include "read/input_format.hpp"
#include "text/char_sets.hpp"

namespace Karvel::Phylo::Read {

// One matrix of discrete characters in a PHYLIP-like `format`; every
// character outside `whitespace` is a value.
Disc_Data_Access Get_Phylip_Symbols(Text_IO::Text_Input& file, Input_Format format,
                                    const TextUtils::Character_Set& whitespace);
// One matrix of real numbers in a PHYLIP-like `format`; under PAIRWISE a
// missing value's word (NA, NaN, N/A, ?) is a quiet NaN.
Real_Data_Access Get_Phylip_Numbers(Text_IO::Text_Input& file, Input_Format format,
                                    Missing_Rule missing = Missing_Rule::ERROR);

} // namespace Karvel::Phylo::Read
