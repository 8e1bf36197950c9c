#pragma once
// Reading character matrices in the PHYLIP-like layouts.

#include <string>

#include "generic/text_io.hpp"
#include "model/model.hpp"
#include "textutils/textutils.hpp"

namespace Phylo::Read {

// NEXUS and FASTA inputs hold one matrix each and are read whole, by their
// own readers (io/read_nexus.hpp, io/read_fasta.hpp).
enum class Input_Format { COMMENTED_PHYLIP, EXTENDED_PHYLIP, PHYLIP, NEXUS, FASTA };

// The space and the ASCII control characters (0..32, 127): where labels end
// and, for discrete data, what lies between values.
const TextUtils::Character_Set& Whitespace();

// Reads one matrix of discrete characters; every character outside
// `whitespace` is a value.
Disc_Data_Access Get(Text_IO::Text_Input& file, Input_Format format,
                     const TextUtils::Character_Set& whitespace);
// Reads one matrix of real numbers.
Real_Data_Access Get(Text_IO::Text_Input& file, Input_Format format);

// Numbers as they stand in matrix files. Both skip spaces, tabs, carriage
// returns and line feeds first (End_Error when nothing else is left) and
// leave the character after the number in the stream.
// An optionally signed decimal integer in the 32-bit range, else Data_Error.
int Read_Integer(Text_IO::Text_Input& file);
// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits], rounded to the
// nearest double; a missing digit or a value beyond the double range is a
// Data_Error.
double Read_Real(Text_IO::Text_Input& file);

} // namespace Phylo::Read
