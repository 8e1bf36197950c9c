#include "phylo/print.hpp"

namespace Phylo::Print {
Output_Format Label_Format(Dist_Output_Format) { return Output_Format::EXTENDED_PHYLIP; }
void Put(Text_IO::Text_Output&, const Squared&, Dist_Output_Format, int, int, int) {}
void Put(Text_IO::Text_Output&, const Disc_Data&, Output_Format) {}
void Put(Text_IO::Text_Output&, const Real_Data&, Output_Format, int, int, int) {}
} // namespace Phylo::Print
