#include "phylo/distfunc.hpp"

namespace Phylo::Distfunc {
Generic::Square_Block Distances(const Real_Matrix&, Real_Formula, double) {
  throw Errors::Constraint_Error("real distances not built yet");
}
} // namespace Phylo::Distfunc
