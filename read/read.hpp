#pragma once
// Reading character matrices: one entry for every layout, which hands the
// input to the layout's reader.

#include "text/text_io.hpp"
#include "model/model.hpp"
#include "read/input_format.hpp"
#include "read/words.hpp"
#include "text/char_sets.hpp"

namespace Karvel::Phylo::Read {

// Reads one matrix of discrete characters; every character outside
// `whitespace` is a value.
Disc_Data_Access Get(Text_IO::Text_Input& file, Input_Format format,
                     const TextUtils::Character_Set& whitespace, Table_Options table = {});
// Reads one matrix of real numbers.
Real_Data_Access Get(Text_IO::Text_Input& file, Input_Format format, Table_Options table = {});

} // namespace Karvel::Phylo::Read
