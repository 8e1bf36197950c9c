#pragma once
// A run as the karvel programs make it: its settings, every matrix of every
// input read, transformed and written, and where the run is, for reports.
// The programs hold options and reports; everything else is here, so the
// library can do whatever the program does.

#include <exception>
#include <optional>
#include <string>
#include <string_view>
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
  // --ties: how the ranks of -K and -s treat equal values. Kept apart from
  // the two transformations above so that the letters and --ties may come
  // in any order; Run_Transformation and Run_Formula put them together.
  Phylo::Real_Chars::Ties Ties = Phylo::Real_Chars::Ties::HEAP;
  // --missing: whether missing cells are refused or left out pair by pair.
  Phylo::Missing_Rule Missing = Phylo::Missing_Rule::ERROR;
  // --missing-symbols: more discrete symbols that pairwise leaves out.
  std::string Missing_Symbols;
  // --types and --weights of mixed characters (--mixed).
  std::string Mixed_Types;
  std::vector<double> Mixed_Weights;
  Phylo::Print::Dist_Output_Format Output = Phylo::Print::Dist_Output_Format::EXTENDED_PHYLIP;
  bool Print_Data = false;
  // The bytes of distances held at most: a matrix whose square needs more
  // is written a block of rows at a time as it is computed.
  std::size_t Memory = Phylo::Pipeline::Default_Memory;
  // Only these rows of each matrix (--rows), or part I of K (--part, I
  // from 1).
  std::optional<Phylo::Pipeline::Row_Range> Rows;
  std::optional<std::pair<int, int>> Part;
  // Digits after the point, or an Aft value of io/print.hpp (--decimals, --exact).
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

// What the run does to continuous characters before anything else (-A ..
// -Z), and the formulae of its distances with their implied
// transformations: the ranks of -K and -s are ranked as --ties says.
std::optional<Phylo::Real_Chars::Transformation> Run_Transformation(const Run_Settings& settings);
Phylo::Pipeline::Formula Run_Formula(const Run_Settings& settings);

// The labels of a matrix just read, as read: converted from Latin-1 under
// --encoding=latin-1, else warned of where not UTF-8; duplicates warned of,
// as are binary symbols that count as unknown. `matrix` names the matrix in
// the warnings.
void Take_Read_Labels(Phylo::Pipeline::Data& data, const Run_Settings& settings, const std::string& matrix);

// Warns of labels the run's output layout cannot keep apart or hold: those
// the PHYLIP cut makes equal, controls a layout writes as '_'.
void Check_Labels_For_Output(const Phylo::Pipeline::Data& data, const Run_Settings& settings);

// The next matrix of `input` (not at its end), read as the programs and the
// library read it: blanks before a PHYLIP-like header passed over, its
// start noted for reports (Position), its labels taken (Take_Read_Labels).
Phylo::Pipeline::Data Read_Next_Matrix(Text_IO::Text_Input& input, const Run_Settings& settings);

class Destination;

// Processes every matrix of one input, writing text to `output`, or binary
// layouts to `destination` (without one they are a Constraint_Error).
void Read_Matrices(Text_IO::Text_Input& input, const Run_Settings& settings,
                   Text_IO::Text_Output& output, Destination* destination = nullptr);

// The distances of one matrix by `formula`, written as the run's settings
// say: held whole, or beyond --memory (and for --rows, --part) a block of
// rows at a time; text layouts to `output`, binary ones to `destination`.
// `data` is moved from where the caller can spare it (the implied
// transformations then work in place) and copied otherwise.
template <class Data>
void Put_Matrix_Distances(Data&& data, const Phylo::Pipeline::Formula& formula, const Run_Settings& settings,
                          Text_IO::Text_Output& output, Destination* destination);

// Walks the operands left to right ("-" is standard input).
void Traverse_Files(const std::vector<std::string>& operands, const Run_Settings& settings,
                    Text_IO::Text_Output& output, Destination* destination = nullptr);

// Where the run is: the second line of a report names the input, and the
// matrix, where the first line alone would leave the user guessing. One per
// process: a run reads one input at a time.
namespace Position {

struct Whereabouts {
  std::string operand; // as given; empty between inputs
  std::string input;   // as messages name it
  bool reading = false;
  long matrix_line = 0; // where the matrix being worked on starts
  std::string hint;     // a guess at the layout of text that did not fit
};
Whereabouts& Where();

// Starts the whereabouts of an operand; Leave_Input() clears them.
void Enter_Input(const std::string& operand);
void Leave_Input();

// "the matrix that starts on line L of INPUT", for warnings and reports.
std::string Matrix_Place();

// Blanks before a PHYLIP-like header, passed over as its reader would, so
// that the line of the header is the matrix's line. Other layouts may give
// leading blanks a meaning (an empty first cell of a table).
void Skip_To_Header(Text_IO::Text_Input& input, Phylo::Read::Input_Format format);

// Keeps, for the report, a guess at what the text that failed to read is:
// the error's own hint, or for a PHYLIP-like layout one made from the first
// bytes of the input (`head`), which are gone once it is closed.
void Note_Hint(const std::exception& error, Phylo::Read::Input_Format format, std::string_view head);

} // namespace Position

} // namespace Karvel
