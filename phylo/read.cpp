#include "phylo/read.hpp"

namespace Phylo::Read {
const TextUtils::Character_Set& Whitespace() { return Phylo::Whitespace(); }
Disc_Data_Access Get(Text_IO::Text_Input&, Input_Format, const TextUtils::Character_Set&) {
  throw Errors::Constraint_Error("reader not built yet");
}
Real_Data_Access Get(Text_IO::Text_Input&, Input_Format) { throw Errors::Constraint_Error("reader not built yet"); }
void Get_Label(Text_IO::Text_Input&, Input_Format, std::string&) {}
} // namespace Phylo::Read
