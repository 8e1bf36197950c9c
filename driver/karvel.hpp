#pragma once
// The karvel command: options, run settings and the run driver.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/pipeline.hpp"
#include "api/stream.hpp"
#include "threads/progress.hpp"
#include "text/text_io.hpp"
#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "write/print.hpp"
#include "read/read.hpp"
#include "write/write_binary.hpp"
#include "transform/real_chars.hpp"

namespace Karvel {

using Input_Datatype = Phylo::Pipeline::Datatype;

// What the run does: read the operands, or answer --help or --version.
enum class Run_Action { RUN, HELP, VERSION };

struct Run_Settings {
  Phylo::Read::Input_Format Format = Phylo::Read::Input_Format::EXTENDED_PHYLIP;
  Input_Datatype Datatype = Input_Datatype::CONTINUOUS;
  Phylo::Distfunc::Binary_Formula Binary_Formula = Phylo::Distfunc::Formulas::Default_Of(Phylo::Distfunc::Formulas::Binary);
  Phylo::Distfunc::Discrete_Formula Discrete_Formula =
      Phylo::Distfunc::Formulas::Default_Of(Phylo::Distfunc::Formulas::Discrete);
  Phylo::Distfunc::Real_Formula Real_Formula = Phylo::Distfunc::Formulas::Default_Of(Phylo::Distfunc::Formulas::Real);
  // Only what a real formula implies: FOR_CHI (-i) or RANKS (-s).
  std::optional<Phylo::Real_Chars::Transformation> Implied_Transformation;
  std::optional<Phylo::Real_Chars::Transformation> Transformation;
  Phylo::Print::Dist_Output_Format Output = Phylo::Print::Dist_Output_Format::EXTENDED_PHYLIP;
  bool Print_Data = false;
  // The bytes of distances held at most: a matrix whose square needs more
  // is written a block of rows at a time as it is computed.
  std::size_t Memory = Phylo::Pipeline::Default_Memory;
  // Only these rows of each matrix (--rows), or part I of K (--part, I
  // from 1).
  std::optional<Phylo::Pipeline::Row_Range> Rows;
  std::optional<std::pair<int, int>> Part;
  // Digits after the point, or an Aft value of write/print.hpp (--decimals, --exact).
  int Aft = Phylo::Print::Default_Aft;
  Run_Action Action = Run_Action::RUN;
  // Unset: KARVEL_THREADS, else every processor.
  std::optional<int> Threads;
  Generic::Progress::Mode Progress = Generic::Progress::Mode::AUTO;
  // Distances in a binary layout instead of the text layout of Output.
  std::optional<Phylo::Binary_Output::Layout> Binary_Output;
  // --output: the file written instead of standard output.
  std::optional<std::string> Output_File;
  // --undefined=nan
  bool Undefined_As_NaN = false;
  // --encoding=latin-1: labels are ISO 8859-1, converted to UTF-8 as read.
  bool Latin1_Labels = false;
  // --labels=none and --decimal=comma, for tables.
  Phylo::Read::Table_Options Table;
  // The parser tells contradicting options by the settings they leave.
  bool operator==(const Run_Settings&) const = default;
};

class Destination;

// The labels of a matrix just read, made and checked for the run's output:
// converted from Latin-1 under --encoding=latin-1, else warned of where not
// UTF-8; duplicates, PHYLIP cuts and controls the layout cannot hold warned
// of, as are binary symbols that count as unknown. `matrix` names the matrix
// in the warnings.
void Take_Labels(Phylo::Pipeline::Data& data, const Run_Settings& settings, const std::string& matrix);

// Takes the options out of `arguments` (the arguments after the program
// name) and returns the settings; what remains are the operands. Of
// conflicting letters the leftmost wins; a long option given twice with
// different values, or contradicting a letter, an unknown long option and a
// bad value throw Errors::Usage_Error.
Run_Settings Parse_Arguments(std::vector<std::string>& arguments);

// The usage text, with the invocation name in its first and third lines.
void Put_Usage(Text_IO::Text_Output& file, const std::string& invocation_name);

// --help: the usage text with the long options and the environment.
void Put_Help(Text_IO::Text_Output& file, const std::string& invocation_name);

// Processes every matrix of one input, writing text to `output`, or binary
// layouts to `destination` (without one they are a Constraint_Error).
void Read_Matrices(Text_IO::Text_Input& input, const Run_Settings& settings,
                   Text_IO::Text_Output& output, Destination* destination = nullptr);

// Walks the operands left to right ("-" is standard input).
void Traverse_Files(const std::vector<std::string>& operands, const Run_Settings& settings,
                    Text_IO::Text_Output& output, Destination* destination = nullptr);

// --threads (`threads`), else KARVEL_THREADS, and KARVEL_SIMD, taken as
// the program takes them: a bad value is a Constraint_Error. For programs
// that run karvel's pipeline their own way (karvel_mpi).
void Take_Environment(std::optional<int> threads);

// The whole program; returns the exit status.
int Main(int argc, char** argv);

} // namespace Karvel
