#include "phylo/disc_to_binary.hpp"

namespace Phylo::Disc_To_Binary {
Binary_Matrix Translate(const Disc_Matrix&, const Binary_Translator&) {
  throw Errors::Constraint_Error("translation not built yet");
}
} // namespace Phylo::Disc_To_Binary
