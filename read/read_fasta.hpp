#pragma once
// Reading an aligned FASTA file: one matrix of symbols, a row per sequence.

#include "text/text_io.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Read {

// Every sequence of the input: the label is the first word after '>' (the
// rest of the line describes it), the symbols are every byte but blanks on
// the lines that follow, up to the next '>' line. All sequences must be as
// long as the first; the first that is not is a Data_Error.
Disc_Data_Access Get_Fasta(Text_IO::Text_Input& file);

// FASTA holds symbols, never numbers: the Data_Error that says how to read
// it.
[[noreturn]] void Refuse_Fasta_Numbers();

} // namespace Karvel::Phylo::Read
