#pragma once
// Transformations of continuous characters, applied to the matrix in place.

#include "model/model.hpp"

namespace Phylo::Real_Chars {

enum class Transformation {
  ROW_FRACTIONS, COLUMN_FRACTIONS, FOR_CHI, RANGING, FULL_RANGING, Z_SCORES, FULL_Z_SCORES, RANKS
};

// Rewrites the values of an aligned matrix; the shape stays. Rows of
// different lengths are a Size_Error before anything changes.
void Transform_Matrix(Real_Matrix& matrix, Transformation transformation);

} // namespace Phylo::Real_Chars
