#pragma once
// The karvel programs' own part: options, usage and help, and the run of
// the program, whose steps are the library's (api/run.hpp).

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api/run.hpp"
#include "text/text_io.hpp"

namespace Karvel {

// Takes the options out of `arguments` (the arguments after the program
// name) and returns the settings; what remains are the operands. Of
// conflicting letters the leftmost wins; a long option given twice with
// different values, or contradicting a letter, an unknown long option and a
// bad value throw Errors::Usage_Error.
Run_Settings Parse_Arguments(std::vector<std::string>& arguments);

// Refuses (Errors::Usage_Error) an --output that would replace one of the
// operands, or its labels file one of them: the file takes its name only
// when the run ends, by a rename over what was there, and the input would
// be gone, replaced by what was made of it.
void Refuse_Output_Over_Input(const Run_Settings& settings, const std::vector<std::string>& operands);

// The usage text, with the invocation name in its first and third lines.
void Put_Usage(Text_IO::Text_Output& file, const std::string& invocation_name);

// --help: the usage text with the long options and the environment.
void Put_Help(Text_IO::Text_Output& file, const std::string& invocation_name);

// --threads (`threads`), else KARVEL_THREADS, and KARVEL_SIMD, taken as
// the program takes them: a bad value is a Constraint_Error. For programs
// that run karvel's pipeline their own way (karvel_mpi).
void Take_Environment(std::optional<int> threads);

// The whole program; returns the exit status.
int Main(int argc, char** argv);

} // namespace Karvel
