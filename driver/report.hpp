#pragma once
// How karvel and karvel_mpi tell the user what went wrong: one ladder from
// an error to the lines of its report, so that both programs say the same
// words, with the same place, hint and suffix.

#include <exception>
#include <string>
#include <vector>

#include "generic/text_io.hpp"
#include "io/read.hpp"

namespace Karvel::Report {

// What the run was doing when an error came: the second line of a report
// names the input, and the matrix, where the first line alone would leave
// the user guessing. One per process: a run reads one input at a time.
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

// Operands written only after "--" are files by the user's own word, which
// no report takes for a mistyped option.
void Note_Marked_Files(const std::vector<std::string>& arguments);

// Blanks before a PHYLIP-like header, passed over as its reader would, so
// that the line of the header is the matrix's line. Other layouts may give
// leading blanks a meaning (an empty first cell of a table).
void Skip_To_Header(Text_IO::Text_Input& input, Phylo::Read::Input_Format format);

// Keeps, for the report, a guess at what the text that failed to read is:
// the error's own hint, or for a PHYLIP-like layout one made from the first
// bytes of the input (`head`), which are gone once it is closed.
void Note_Hint(const std::exception& error, Phylo::Read::Input_Format format, std::string_view head);

// The lines of the report of `error` (thrown by the run), shown safe for a
// terminal. The first is the one karvel has always printed for the kind of
// error; the detail and the hint follow on lines that begin "karvel: ".
std::vector<std::string> Lines(const std::exception_ptr& error);

// Writes lines to standard error, ignoring a failure to: there is no one
// else left to tell.
void Put_Lines(const std::vector<std::string>& lines);

// Sends warnings, from any thread, to standard error as "karvel: warning: "
// lines above the progress line.
void Warn_On_Standard_Error();

} // namespace Karvel::Report
