#pragma once
// Reading character matrices in the PHYLIP-like layouts.

#include <string>

#include "generic/text_io.hpp"
#include "phylo/phylo.hpp"
#include "textutils/textutils.hpp"

namespace Phylo::Read {

enum class Input_Format { COMMENTED_PHYLIP, EXTENDED_PHYLIP, PHYLIP, TAB_SEPARATED };

// The space and every control character (0..32, 127..159): where labels end
// and, for discrete data, what lies between values.
const TextUtils::Character_Set& Whitespace();

// Reads one matrix of discrete characters; every character outside
// `whitespace` is a value.
Disc_Data_Access Get(Text_IO::Text_Input& file, Input_Format format,
                     const TextUtils::Character_Set& whitespace);
// Reads one matrix of real numbers.
Real_Data_Access Get(Text_IO::Text_Input& file, Input_Format format);

// Appends the next taxon label, read by the rule of the layout, to `label`.
void Get_Label(Text_IO::Text_Input& file, Input_Format format, std::string& label);

} // namespace Phylo::Read
