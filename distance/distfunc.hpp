#pragma once
// Pairwise distances between the taxa of a character matrix.

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "diagnostics/errors.hpp"
#include "arrays/row_matrix.hpp"
#include "model/model.hpp"
#include "transform/real_chars.hpp"

namespace Karvel::Phylo::Distfunc {

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

// The symbols of a discrete matrix that stand for a missing cell rather
// than a state: ? and -, those the input declares (a NEXUS FORMAT's MISSING
// and GAP, which polymorphic cells are read as), those the user names
// (--missing-symbols), and, where every other symbol of the matrix is a
// nucleotide code, the ambiguity codes (N, R, Y, ... either case): a DNA
// alignment's N is a base that could not be read, not a fifth state.
struct Missing_Symbols {
  std::array<bool, 256> Is{};
  std::size_t Cells = 0;     // cells of the matrix that hold one
  std::size_t Ambiguous = 0; // of those, the ambiguity codes of nucleotides
};
Missing_Symbols Missing_Symbols_Of(const Disc_Matrix& matrix, std::string_view declared);

// Each returns the square block over the matrix's taxon range. Every value
// is checked before it is stored: a negative, infinite or not-a-number
// distance is a Pair_Range_Error naming the formula and the two taxa (a
// square root or arc cosine out of its domain a Pair_Argument_Error), unless
// `undefined` is given: then such a pair is stored as a quiet NaN and
// counted there.
Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula,
                                Undefined_Pairs* undefined = nullptr);
// Under --missing=pairwise: each pair over the characters known in both
// taxa (`missing` says which symbols are not known); a pair with none is
// undefined ("no character is known in both taxa").
Generic::Square_Block Distances(const Disc_Matrix& matrix, Discrete_Formula formula, const Missing_Symbols& missing,
                                Undefined_Pairs* undefined = nullptr);
Generic::Square_Block Distances(const Binary_Matrix& matrix, Binary_Formula formula,
                                Undefined_Pairs* undefined = nullptr);
// Under Missing_Rule::PAIRWISE a real pair is computed over the characters
// present (not NaN) in both rows; a pair that shares none has no distance
// and fails as above. On a matrix without NaN it changes nothing.
Generic::Square_Block Distances(const Real_Matrix& matrix, Real_Formula formula, double threshold,
                                Undefined_Pairs* undefined = nullptr, Missing_Rule missing = Missing_Rule::ERROR);

using Phylo::Row_Part;

// Which failing pair counts as the first: the first of the pairs (i, j),
// i < j, in the order of i and then j, which is the one the whole-matrix
// routines report; or the first in the order the rows are written, which
// differs only for BEFORE, where pair (i, j) is written in row j.
enum class Pair_Order { TAXA, ROWS };

// A pair of taxa i < j, or none.
struct Failed_Pair {
  int I = -1;
  int J = -1;
  bool Found() const { return I >= 0; }
};

// The distances of a matrix a block of rows at a time, so that a caller
// never needs the whole square. A pair is always evaluated as (i, j) with
// i < j, whichever row it is asked for in, so (i, j) and (j, i) are the same
// bits, and the same bits as the whole-matrix routines give.
class Row_Distances {
public:
  virtual ~Row_Distances() = default;
  virtual int Taxa() const = 0;
  // Rows first .. past - 1 (first < past) into `rows`, (past - first) *
  // Taxa() values, row after row: of each row the columns its part shows and
  // 0.0 on the diagonal; other entries are left as they are. A failing pair
  // is not stored but noted; the first of them in `order` is handed back.
  // With `undefined`, a failing pair is stored as a quiet NaN instead and
  // added there, counted only in the row of its earlier taxon (of its later
  // one for BEFORE), so that the blocks of a run count each pair once; its
  // first pair is the first in the order of the taxa over every call.
  virtual Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                              Undefined_Pairs* undefined = nullptr) const = 0;
  // Raises the error of a failing pair, with the message the whole-matrix
  // routine gives.
  [[noreturn]] virtual void Raise(int i, int j) const = 0;
};

// Over a matrix that must stay while the rows are computed; the binary one
// packs the rows and no longer needs the matrix afterwards. The checks of
// the whole-matrix routines that need no pair come first.
std::unique_ptr<Row_Distances> Row_Distances_Of(const Disc_Matrix& matrix, Discrete_Formula formula);
std::unique_ptr<Row_Distances> Row_Distances_Of(const Disc_Matrix& matrix, Discrete_Formula formula,
                                                const Missing_Symbols& missing);
std::unique_ptr<Row_Distances> Row_Distances_Of(const Binary_Matrix& matrix, Binary_Formula formula);
std::unique_ptr<Row_Distances> Row_Distances_Of(const Real_Matrix& matrix, Real_Formula formula, double threshold,
                                                Missing_Rule missing = Missing_Rule::ERROR);

// The PEARSON distances of rows ranked pair by pair, as R's cor(method =
// "spearman", use = "pairwise.complete.obs") ranks them: each pair's values
// present in both rows (not NaN) are ranked afresh by `ranking` (RANKS or
// AVERAGE_RANKS), then correlated as two complete rows of that length. A
// pair that shares no value fails as under pairwise deletion. Every pair is
// its own computation, so the result is the same on any thread count.
Generic::Square_Block Pairwise_Ranked_Distances(const Real_Matrix& matrix, Real_Chars::Transformation ranking,
                                                Undefined_Pairs* undefined = nullptr);
std::unique_ptr<Row_Distances> Pairwise_Ranked_Row_Distances_Of(const Real_Matrix& matrix,
                                                                Real_Chars::Transformation ranking);

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
  Pair_Error(const std::string& message, int taxon_i, int taxon_j) : Base(message), Pair_Taxa(taxon_i, taxon_j) {
    Base::Set_Pair(taxon_i, taxon_j);
  }
};
using Pair_Range_Error = Pair_Error<Errors::Constraint_Error>;
using Pair_Argument_Error = Pair_Error<Errors::Argument_Error>;

} // namespace Karvel::Phylo::Distfunc
