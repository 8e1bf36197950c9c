#pragma once
// Pairwise distances between the taxa of a character matrix.

#include "generic/row_matrix.hpp"
#include "phylo/phylo.hpp"

namespace Phylo::Distfunc {

enum class Binary_Formula {
  HAMANN, MATCHING, ROGERS_TANIMOTO, SOKAL_SNEATH_1, SOKAL_SNEATH_2, SOKAL_SNEATH_3, SOKAL_SNEATH_4,
  YULE, PHI, JACCARD, SOERENSEN, TRIPLE_WEIGHT, ROGERS_TANIMOTO_ASYMMETRIC, RUSSELL_RAO, KULCZYNSKI,
  KULCZYNSKI_2, OCHIAI, FAITH, FAGER
};
enum class Discrete_Formula { HAMANN, MATCHING, ROGERS_TANIMOTO, SOKAL_SNEATH_1, SOKAL_SNEATH_2 };
enum class Real_Formula {
  BRAY_CURTIS, CANBERRA, CHORD, CLARK, EDGAR, EUCLIDEAN, EXCLUSIVE_EUCLIDEAN, EXCLUSIVE_MANHATTAN,
  GEODESIC, DRAVIK, GOWER_D9, GOWER_D10, HELLINGER, KULCZYNSKI, MANHATTAN, PEARSON
};

// Names as written in messages (the literal, e.g. "SOKAL_SNEATH_1").
const char* Name(Binary_Formula formula);
const char* Name(Discrete_Formula formula);
const char* Name(Real_Formula formula);

// Each returns the square block over the matrix's taxon range. Every value
// is checked before it is stored: a negative, infinite or not-a-number
// distance is a Pair_Error naming the formula and the two taxa.
Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula);
Generic::Square_Block Distances(const Binary_Matrix& matrix, Binary_Formula formula);
Generic::Square_Block Distances(const Real_Matrix& matrix, Real_Formula formula, double threshold);

// A distance that fails the range check: a Constraint_Error that also says
// which two taxa (taxon numbers of the matrix) failed, so that the driver
// can name them by their labels.
class Pair_Error : public Errors::Constraint_Error {
public:
  Pair_Error(const std::string& message, int taxon_i, int taxon_j)
      : Errors::Constraint_Error(message), I(taxon_i), J(taxon_j) {}
  int I;
  int J;
};

} // namespace Phylo::Distfunc
