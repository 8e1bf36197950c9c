#pragma once
// A guess at the layout of text that did not read as a PHYLIP-like matrix:
// spreadsheets, alignment programs and R write other layouts, and a user who
// hands one to karvel is best helped by being told which option reads it.

#include <string>
#include <string_view>

namespace Karvel::Phylo::Read {

// From the first bytes of an input (a few kilobytes are plenty): the words
// that complete "FILE ..." in a hint, such as "looks like a comma-separated
// table; try --from=csv", or nothing when the text looks like none of the
// layouts it knows.
std::string Guess_Layout(std::string_view head);

} // namespace Karvel::Phylo::Read
