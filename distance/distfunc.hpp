#pragma once
// Pairwise distances between the taxa of a character matrix.

#include <string>

#include "generic/errors.hpp"
#include "generic/row_matrix.hpp"
#include "model/model.hpp"

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

// Pairs whose distance is undefined, kept as a quiet NaN instead of ending
// the run: how many, and the first in single-threaded order (I < J) with
// the message its error would have had.
struct Undefined_Pairs {
  long long Count = 0;
  int I = -1;
  int J = -1;
  std::string Cause;
};

// Each returns the square block over the matrix's taxon range. Every value
// is checked before it is stored: a negative, infinite or not-a-number
// distance is a Pair_Range_Error naming the formula and the two taxa (a
// square root or arc cosine out of its domain a Pair_Argument_Error), unless
// `undefined` is given: then such a pair is stored as a quiet NaN and
// counted there.
Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula,
                                Undefined_Pairs* undefined = nullptr);
Generic::Square_Block Distances(const Binary_Matrix& matrix, Binary_Formula formula,
                                Undefined_Pairs* undefined = nullptr);
Generic::Square_Block Distances(const Real_Matrix& matrix, Real_Formula formula, double threshold,
                                Undefined_Pairs* undefined = nullptr);

// A pair of taxa whose distance failed: the range check (a negative,
// infinite or not-a-number distance: Pair_Range_Error) or a square root or
// arc cosine out of its domain (Pair_Argument_Error). I and J are taxon
// numbers of the matrix; the driver adds their labels to the message.
class Pair_Taxa {
public:
  Pair_Taxa(int taxon_i, int taxon_j) : I(taxon_i), J(taxon_j) {}
  virtual ~Pair_Taxa() = default;
  int I;
  int J;
};

template <class Base>
class Pair_Error : public Base, public Pair_Taxa {
public:
  Pair_Error(const std::string& message, int taxon_i, int taxon_j) : Base(message), Pair_Taxa(taxon_i, taxon_j) {}
};
using Pair_Range_Error = Pair_Error<Errors::Constraint_Error>;
using Pair_Argument_Error = Pair_Error<Errors::Argument_Error>;

} // namespace Phylo::Distfunc
