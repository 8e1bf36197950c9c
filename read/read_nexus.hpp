#pragma once
// Reading the character matrix of a NEXUS file: the first DATA or
// CHARACTERS block (with the TAXA block before it, where the labels come
// from there). The rest of the file is read and passed over: one file holds
// one matrix.

#include <functional>
#include <string_view>
#include <vector>

#include "text/text_io.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Read {

// Standard, DNA, RNA, nucleotide, protein and restriction data. The symbols
// are kept as written, except that a polymorphic {01} or uncertain (01) cell
// becomes the missing symbol, a match character the first taxon's symbol,
// and letters take the case of the symbols list (else upper case) unless the
// FORMAT says respectcase. The missing and gap symbols are the data's
// Declared_Missing. Continuous data are a Data_Error.
Disc_Data_Access Get_Nexus_Symbols(Text_IO::Text_Input& file);

// Continuous data; any other datatype is a Data_Error. Under PAIRWISE the
// FORMAT's missing symbol (? unless MISSING= says otherwise) and the
// missing-value words are a quiet NaN.
Real_Data_Access Get_Nexus_Numbers(Text_IO::Text_Input& file, Missing_Rule missing = Missing_Rule::ERROR);

// Mixed characters (--mixed), of any datatype: every cell a text, handed to
// `code`, which gives the number stored. A cell is a word (or a quotation)
// where FORMAT says TOKENS or the data are continuous, else one symbol; the
// missing and gap symbols are a quiet NaN, and so is a polymorphic or
// uncertain cell ({..} or (..), counted in a warning). Characters are named
// by CHARLABELS, else CHARSTATELABELS, else by their numbers;
// `states_named` tells, a character, whether CHARSTATELABELS names its
// states.
Real_Data_Access Get_Nexus_Cells(Text_IO::Text_Input& file, const std::function<double(std::string_view)>& code,
                                 std::vector<bool>& states_named);

} // namespace Karvel::Phylo::Read
