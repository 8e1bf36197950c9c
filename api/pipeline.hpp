#pragma once
// One matrix from the input to the output: read, transform, distances, and
// the writing of distances or data. The karvel program runs these steps on
// every matrix it reads, and the library's public functions are made of
// them, so both write the same bytes and raise the same errors.

#include <optional>
#include <string>

#include "distance/distfunc.hpp"
#include "text/text_io.hpp"
#include "write/print.hpp"
#include "read/read.hpp"
#include "read/read_mixed.hpp"
#include "model/model.hpp"
#include "transform/real_chars.hpp"

namespace Karvel::Phylo::Pipeline {

// MIXED: each column a type of its own (--mixed), for Gower's coefficient.
enum class Datatype { BINARY, CONTINUOUS, DISCRETE, MIXED };

// One matrix as read. Discrete and binary characters keep the symbols as
// written (binary ones are translated only for their distances, so that
// their data are printed as read); continuous characters are numbers.
struct Data {
  Datatype Type = Datatype::CONTINUOUS;
  Disc_Data_Access Symbols; // BINARY and DISCRETE
  Real_Data_Access Numbers; // CONTINUOUS
  Read::Mixed_Data_Access Mixed; // MIXED

  const Taxon_Labels& Labels() const;
  Taxon_Labels& Labels();
  int Taxa() const;
  int Characters() const;
  // A copy that shares nothing with this one.
  Data Copy() const;
};

// Reads the next matrix; the caller has made sure that more than blanks are
// left.
Data Read(Text_IO::Text_Input& input, Read::Input_Format format, Datatype type, Read::Table_Options table = {});

// Binary data count every symbol but 1 and 0 as unknown: a warning when
// some are other than the usual ? and - (abundances such as 2 or 12, which
// then say nothing), with their number and the first of them; `matrix`
// names the matrix ("the matrix that starts on line 1 of data.phy"). Other
// data have no such symbols.
void Warn_Of_Unknown_Binary_Symbols(const Data& data, const std::string& matrix);

// Transforms continuous characters in place; other data are a
// Constraint_Error.
void Transform(Data& data, Real_Chars::Transformation transformation);

// The distance formula of each family; the data's type says which one
// counts. The real formulae chi square and Spearman are Euclidean and
// Pearson distances of data transformed first (FOR_CHI, RANKS).
struct Formula {
  Distfunc::Binary_Formula Binary = Distfunc::Binary_Formula::SOERENSEN;
  Distfunc::Discrete_Formula Discrete = Distfunc::Discrete_Formula::MATCHING;
  Distfunc::Real_Formula Real = Distfunc::Real_Formula::EUCLIDEAN;
  std::optional<Real_Chars::Transformation> Implied;
  // A pair whose distance is undefined is a NaN, counted in one warning,
  // rather than the error that ends the run.
  bool Undefined_As_NaN = false;
  // Missing cells (NaN in real data) left out pair by pair.
  Missing_Rule Missing = Missing_Rule::ERROR;
  // Discrete symbols that are missing cells under PAIRWISE besides those
  // every discrete matrix has (--missing-symbols).
  std::string Missing_Symbols;
  // Mixed data: the letters of --types (empty: told from the cells) and
  // the weights of --weights (empty: all 1).
  std::string Mixed_Types;
  std::vector<double> Mixed_Weights;
};

// The distances between the taxa of `data`, with their labels. A pair whose
// distance fails is reported with both taxa's numbers and labels, as the
// same condition (CONSTRAINT_ERROR or ARGUMENT_ERROR).
// The first leaves the data as they are (an implied transformation works on
// a copy); the second uses them up, transforming in place and releasing the
// characters before the distance block is handed back.
Squared_Access Distances(const Data& data, const Formula& formula);
Squared_Access Distances(Data&& data, const Formula& formula);

// The data in the layout that goes with a distance layout, and the
// distances, both with the program's number layout and `aft` decimals (or
// one of the Aft values of print.hpp).
void Put_Data(Text_IO::Text_Output& output, const Data& data, Print::Dist_Output_Format format,
              int aft = Print::Default_Aft);
void Put_Distances(Text_IO::Text_Output& output, const Squared& distances, Print::Dist_Output_Format format,
                   int aft = Print::Default_Aft);

// The distances of one matrix a block of rows at a time, for writing them
// without ever holding the whole square; pairs fail as in Distances, with
// the same messages. The first form keeps `data`, which must stay while
// the rows are computed (an implied transformation works on a copy); the
// second uses them up.
class Row_Blocks {
public:
  Row_Blocks(const Data& data, const Formula& formula);
  Row_Blocks(Data&& data, const Formula& formula);

  const Taxon_Labels& Labels() const { return labels_; }
  int Taxa() const { return static_cast<int>(labels_.size()); }
  // See Distfunc::Row_Distances::Compute.
  Distfunc::Failed_Pair Compute(int first, int past, Distfunc::Row_Part part, Distfunc::Pair_Order order,
                                double* rows, Distfunc::Undefined_Pairs* undefined = nullptr) const;
  // The error of a failing pair, with both taxa's numbers and labels.
  [[noreturn]] void Raise(const Distfunc::Failed_Pair& pair) const;
  // Whether the formula asks for undefined pairs as NaN: then the caller
  // collects them over its blocks and ends with Warn.
  bool Undefined_As_NaN() const { return undefined_as_nan_; }
  // The one warning of the pairs written as NaN, as Distances gives it.
  void Warn(const Distfunc::Undefined_Pairs& undefined) const;

private:
  void Prepare(const Data& data, const Formula& formula, bool owned);

  Taxon_Labels labels_;
  Data kept_; // what the rows are computed from, where this holds it
  std::unique_ptr<Distfunc::Gower_Matrix> gower_; // mixed data, encoded
  std::unique_ptr<Distfunc::Row_Distances> rows_;
  bool undefined_as_nan_ = false;
};

} // namespace Karvel::Phylo::Pipeline
