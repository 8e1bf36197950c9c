#pragma once
// How karvel and karvel_mpi tell the user what went wrong: one ladder from
// an error to the lines of its report, so that both programs say the same
// words, with the same place (Position, api/run.hpp), hint and suffix.

#include <exception>
#include <string>
#include <vector>


namespace Karvel::Report {

// Operands written only after "--" are files by the user's own word, which
// no report takes for a mistyped option.
void Note_Marked_Files(const std::vector<std::string>& arguments);

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
