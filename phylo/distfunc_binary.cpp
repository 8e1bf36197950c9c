#include "phylo/distfunc.hpp"

namespace Phylo::Distfunc {
Generic::Square_Block Distances(const Binary_Matrix&, Binary_Formula) {
  throw Errors::Constraint_Error("binary distances not built yet");
}
} // namespace Phylo::Distfunc
