#pragma once
// Transformations of continuous characters, applied to the matrix in place.

#include <cstddef>
#include <span>
#include <string>

#include "diagnostics/errors.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Real_Chars {

// Z_SCORES (-S) is standardisation: each column divided by its standard
// deviation, its mean left in. FULL_Z_SCORES (-Z) gives z scores proper:
// the mean subtracted first, then divided by the standard deviation.
// RANKS and AVERAGE_RANKS rank each row (taxon) over its characters; they
// differ in their ties (see Ties).
enum class Transformation {
  ROW_FRACTIONS, COLUMN_FRACTIONS, FOR_CHI, RANGING, FULL_RANGING, Z_SCORES, FULL_Z_SCORES, RANKS, AVERAGE_RANKS
};

// How -K and the ranks of -s treat equal values. HEAP: every value its own
// rank from 0, ties in the order the heap sort leaves them, which has been
// karvel's ranking all along and stays the default so that earlier results
// can be repeated. AVERAGE: ranks from 1, and equal values the mean of the
// ranks they span, as R's rank() and scipy.stats.rankdata give them; the
// Pearson distance of those ranks is then the Spearman distance R's
// cor(method = "spearman") and scipy.stats.spearmanr give.
enum class Ties { HEAP, AVERAGE };

// The ranking that `transformation` stands for under the rule `ties`: RANKS
// becomes AVERAGE_RANKS under Ties::AVERAGE; every other transformation is
// itself.
constexpr Transformation With_Ties(Transformation transformation, Ties ties) {
  return transformation == Transformation::RANKS && ties == Ties::AVERAGE ? Transformation::AVERAGE_RANKS
                                                                          : transformation;
}

// Ranks the values of one row in place, as -K ranks a row: `ranking` is
// RANKS or AVERAGE_RANKS, and every value is present.
void Rank_Row(std::span<double> row, Transformation ranking);

// Rewrites the values of an aligned matrix; the shape stays. Rows of
// different lengths are a Size_Error before anything changes.
//
// The values are expected to be finite, as the reader makes them. A
// transformation that would leave a value that is not finite, or that needs
// a statistic that is not (a sum or variance that overflows, the reciprocal
// of a sum too small to divide by, a range wider than the largest double),
// fails its range check with a Constraint_Error that names it, its option
// letter and the column (character) or row at fault; a row is raised as a
// Row_Range_Error. A statistic fails before any value changes; a value
// fails while the rows are rewritten, so the rows before it are already
// transformed then.
void Transform_Matrix(Real_Matrix& matrix, Transformation transformation);

// A failed range check that is a row's fault. Row is the row's position in
// the matrix (0 for the first); what() shows it as "row 1" for want of a
// label, and the driver, which has the labels, puts in the label instead.
class Row_Range_Error : public Errors::Constraint_Error {
public:
  Row_Range_Error(const std::string& before, std::size_t row, const std::string& after)
      : Errors::Constraint_Error(before + "row " + std::to_string(row + 1) + after),
        Row(row), before_(before), after_(after) {}

  // The message with the row named as row N 'label'.
  std::string Labelled(const std::string& label) const {
    return before_ + "row " + std::to_string(Row + 1) + " '" + label + "'" + after_;
  }

  std::size_t Row;

private:
  std::string before_;
  std::string after_;
};

} // namespace Karvel::Phylo::Real_Chars
