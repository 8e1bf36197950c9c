#include "phylo/real_chars.hpp"

namespace Phylo::Real_Chars {
void Transform_Matrix(Real_Matrix&, Transformation) { throw Errors::Constraint_Error("transformations not built yet"); }
} // namespace Phylo::Real_Chars
