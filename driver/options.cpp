#include <string>
#include <vector>

#include "driver/karvel.hpp"

namespace Karvel {

namespace {

using Phylo::Print::Dist_Output_Format;
using Phylo::Read::Input_Format;
using Phylo::Real_Chars::Transformation;

namespace Formulas = Phylo::Distfunc::Formulas;

// The row of the family's table with the letter, or null.
template <class Table>
const auto* Row_With(const Table& table, char letter) {
  for (const auto& row : table)
    if (row.Letter == letter) return &row;
  return static_cast<decltype(&table[0])>(nullptr);
}

// A distance letter sets the formula of each family that has one for it,
// and the transformation its real formula implies; the others keep theirs.
bool Apply_Distance_Letter(char letter, Run_Settings& s) {
  const auto* binary = Row_With(Formulas::Binary, letter);
  const auto* discrete = Row_With(Formulas::Discrete, letter);
  const auto* real = Row_With(Formulas::Real, letter);
  if (binary) s.Binary_Formula = binary->Value;
  if (discrete) s.Discrete_Formula = discrete->Value;
  if (real) {
    s.Real_Formula = real->Value;
    if (real->Implied) s.Implied_Transformation = real->Implied;
  }
  return binary || discrete || real;
}

// Applies the option letter; false when the letter is not an option.
bool Apply_Option(char letter, Run_Settings& s) {
  switch (letter) {
  case '1': s.Format = Input_Format::PHYLIP; return true;
  case '2': s.Format = Input_Format::EXTENDED_PHYLIP; return true;
  case '3': s.Format = Input_Format::COMMENTED_PHYLIP; return true;
  case 'B': s.Datatype = Input_Datatype::BINARY; return true;
  case 'C': s.Datatype = Input_Datatype::CONTINUOUS; return true;
  case 'D': s.Datatype = Input_Datatype::DISCRETE; return true;
  case 'E': s.Output = Dist_Output_Format::NEXUS_ENCLOSED; return true;
  case 'L': s.Output = Dist_Output_Format::LABELS; return true;
  case 'N': s.Output = Dist_Output_Format::NEXUS; return true;
  case 'O': s.Output = Dist_Output_Format::ONE_COLUMN; return true;
  case 'P': s.Output = Dist_Output_Format::PHYLIP; return true;
  case 'R': s.Output = Dist_Output_Format::RAW; return true;
  case 'T': s.Output = Dist_Output_Format::TAB_SEPARATED; return true;
  case 'X': s.Output = Dist_Output_Format::EXTENDED_PHYLIP; return true;
  case 'W': s.Print_Data = true; return true;
  case 'A': s.Transformation = Transformation::RANGING; return true;
  case 'F': s.Transformation = Transformation::ROW_FRACTIONS; return true;
  case 'G': s.Transformation = Transformation::COLUMN_FRACTIONS; return true;
  case 'I': s.Transformation = Transformation::FULL_RANGING; return true;
  case 'K': s.Transformation = Transformation::RANKS; return true;
  case 'S': s.Transformation = Transformation::Z_SCORES; return true;
  case 'Z': s.Transformation = Transformation::FULL_Z_SCORES; return true;
  default: return Apply_Distance_Letter(letter, s);
  }
}

} // namespace

Run_Settings Parse_Arguments(std::vector<std::string>& arguments) {
  Run_Settings settings;
  // Visiting from the right and letting every option overwrite makes the
  // leftmost of conflicting options win.
  for (std::size_t k = arguments.size(); k-- > 0;) {
    const std::string& a = arguments[k];
    if (a.size() == 2 && a[0] == '-' && Apply_Option(a[1], settings))
      arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(k));
  }
  return settings;
}

namespace {

// Each family's label for the letter, "-" where it has none.
template <class Table>
void Put_Label(Text_IO::Text_Output& file, const Table& table, char letter) {
  const auto* row = Row_With(table, letter);
  if (!row) {
    file.Put("-");
    return;
  }
  file.Put(row->Label);
  if (row->Default) file.Put("*");
}

// One line per letter, in the order of the alphabet. Distance letters are
// the lower-case ones; the others belong to the switch above.
void Put_Distance_Letters(Text_IO::Text_Output& file) {
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    if (!Row_With(Formulas::Binary, letter) && !Row_With(Formulas::Discrete, letter) &&
        !Row_With(Formulas::Real, letter))
      continue;
    file.Put("  -");
    file.Put(letter);
    file.Put("  ");
    Put_Label(file, Formulas::Binary, letter);
    file.Put("/");
    Put_Label(file, Formulas::Discrete, letter);
    file.Put("/");
    Put_Label(file, Formulas::Real, letter);
    file.Put("\n");
  }
}

} // namespace

void Put_Usage(Text_IO::Text_Output& file, const std::string& name) {
  file.Put(name);
  file.Put(" computes Euclidean and other distances.\n\nUsage: ");
  file.Put(name);
  file.Put(" [options] inputfile(s)\n"
           "\n"
           "Input format:\n"
           "  -1  ordinary PHYLIP format\n"
           "  -2  extended PHYLIP format (default)\n"
           "  -3  commented PHYLIP format\n"
           "\n"
           "Input datatype:\n"
           "  -B  binary characters\n"
           "  -C  continuous characters (real numbers; default)\n"
           "  -D  discrete characters\n"
           "\n"
           "Distance formulae (Binary/Discrete/Real, * = default):\n");
  Put_Distance_Letters(file);
  file.Put("\n"
           "Transformation of continuous characters (default: none):\n"
           "  -A  Ranging (divide through column maximum)\n"
           "  -F  Row-wise fractions\n"
           "  -G  Column-wise fractions\n"
           "  -K  Row-wise ranks\n"
           "  -I  Ranging (as -A, but also subtract minimum)\n"
           "  -S  Standardization (divide through column variances)\n"
           "  -Z  Z scores (as -S, but also subtract mean)\n"
           "\n"
           "Output format:\n"
           "  -E  NEXUS format, labels enclosed in single quotes\n"
           "  -L  Labels only\n"
           "  -N  NEXUS format, labels cleaned\n"
           "  -O  one-column format\n"
           "  -P  ordinary PHYLIP format\n"
           "  -R  raw format (no labels, no header)\n"
           "  -T  tab-separated format\n"
           "  -W  Print input data, not distances\n"
           "  -X  extended PHYLIP format (default)\n"
           "\n"
           "karvel " KARVEL_VERSION " - distance matrices and matrix conversion for numerical taxonomy\n"
           "\n");
}

} // namespace Karvel
