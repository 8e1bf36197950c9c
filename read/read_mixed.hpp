#pragma once
// Mixed characters (--mixed): a table whose columns each have a type of
// their own (continuous, ordinal, nominal, symmetric or asymmetric binary),
// read as texts and encoded for Gower's coefficient once the types are known.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "distance/distfunc_mixed.hpp"
#include "model/model.hpp"
#include "read/input_format.hpp"
#include "text/text_io.hpp"

namespace Karvel::Phylo::Read {

// The letters of --types, one a character.
enum class Mixed_Type : char {
  CONTINUOUS = 'c',
  ORDINAL = 'o',
  NOMINAL = 'n',
  SYMMETRIC = 's',
  ASYMMETRIC = 'a',
};

// The table as read: a cell is the number of its text in Texts (the first
// text met is 0), or a quiet NaN where missing.
struct Mixed_Data {
  Taxon_Labels Labels;
  std::vector<std::string> Character_Names;
  Real_Matrix Cells;
  std::vector<std::string> Texts;
  bool Decimal_Comma = false; // numbers are written 1,5
  // A character whose states a NEXUS file names (CHARSTATELABELS) is
  // nominal unless --types says otherwise; empty for tables.
  std::vector<bool> States_Named;

  int Taxa() const { return static_cast<int>(Labels.size()); }
  int Characters() const { return static_cast<int>(Character_Names.size()); }
};
using Mixed_Data_Access = std::unique_ptr<Mixed_Data>;

// Reads a CSV, TSV or CSV2 table or a NEXUS matrix (read/read_nexus.hpp);
// another layout is a Usage_Error.
Mixed_Data_Access Get_Mixed(Text_IO::Text_Input& file, Input_Format format, Table_Options options);

// Checks the letters of --types (a Usage_Error names the first wrong one).
void Check_Mixed_Types(std::string_view letters);

// The type each column has: the letter of `types` where given (its length
// must then be the number of characters, a Usage_Error otherwise), else
// nominal where a NEXUS file names the states, else continuous where every
// present cell is a number and nominal otherwise.
std::vector<Mixed_Type> Types_Of(const Mixed_Data& data, std::string_view types);

// The matrix Gower's coefficient reads. `weights` is empty (every weight
// 1) or one weight a character (a Usage_Error otherwise). A continuous
// column with a cell that is no number, and a binary column with more than
// two values, are Data_Errors naming the column.
Distfunc::Gower_Matrix Encode(const Mixed_Data& data, std::string_view types, const std::vector<double>& weights);

} // namespace Karvel::Phylo::Read
