#pragma once
// Reading character matrices from comma- and tab-separated tables, as
// spreadsheets, R's write.csv and pandas' to_csv write them: a header row
// (its first cell empty or the name of the label column, then the names of
// the characters), then one row per taxon, the label first. Fields follow
// RFC 4180: a field in double quotes may hold separators, line feeds and
// doubled quotes; lines may end in CR LF; blank lines are passed over. The
// whole input is one matrix.

#include <functional>
#include <string_view>

#include "text/text_io.hpp"
#include "read/input_format.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Read {

// CSV, TSV and CSV2.
bool Is_Table(Input_Format format);
// ',' for CSV, a tab for TSV, ';' for CSV2.
char Separator_Of(Input_Format format);

// Every cell a number; a missing value (empty, NA, N/A, NaN, ?, null) is a
// Data_Error, unless options.missing is PAIRWISE: then it is a quiet NaN.
Real_Data_Access Get_Table_Numbers(Text_IO::Text_Input& file, Input_Format format, Table_Options options);

// Every cell one symbol; an empty cell, NA, NaN and ? are the unknown
// symbol '?'.
Disc_Data_Access Get_Table_Symbols(Text_IO::Text_Input& file, Input_Format format, Table_Options options);

// Every cell a text of its own (mixed characters): a missing cell (empty,
// NA, N/A, NaN, ?, null) is a quiet NaN, any other is code(its text, blanks
// trimmed). Rows may be read on several threads at once.
Real_Data_Access Get_Table_Cells(Text_IO::Text_Input& file, Input_Format format, Table_Options options,
                                 const std::function<double(std::string_view)>& code);

} // namespace Karvel::Phylo::Read
