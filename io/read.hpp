#pragma once
// Reading character matrices in the PHYLIP-like layouts.

#include <string>

#include "generic/text_io.hpp"
#include "model/model.hpp"
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

// The pieces the label rules are made of.
// Appends one word: leading members of `set` and line feeds are passed over;
// the word ends before a line feed or the end of input (not consumed) or at a
// member of `set` (consumed and dropped). End_Error when the input ends
// before the word starts.
void Get_Word(Text_IO::Text_Input& file, const TextUtils::Character_Set& set, std::string& word);
// Appends the next `count` characters, line feeds not counted, then trims
// Whitespace() from both ends of the whole word. End_Error when the input
// ends first.
void Get_Word(Text_IO::Text_Input& file, int count, std::string& word);

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
