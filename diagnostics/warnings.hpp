#pragma once
// Warnings: conditions worth a word that do not stop the run (labels that
// collide, pairs written as NaN). Only the program decides where they go;
// the stages that find them hand them on here, and without a sink they are
// dropped, so the library stays silent for programs that do not ask.

#include <functional>
#include <string>

namespace Karvel::Generic::Warnings {

using Sink = std::function<void(const std::string& message)>;

// Where warnings go from now on (an empty sink drops them). Set once, before
// the stages run; Issue may then be called from any thread.
void Set_Sink(Sink sink);

// Hands one warning, a single line without a line feed, to the sink.
void Issue(const std::string& message);

} // namespace Karvel::Generic::Warnings
