#include "phylo/distfunc.hpp"

namespace Phylo::Distfunc {
Generic::Square_Block Distances(const Disc_Matrix&, Discrete_Formula) {
  throw Errors::Constraint_Error("discrete distances not built yet");
}
} // namespace Phylo::Distfunc
