// The R package's bridge to the library: R's matrices into karvel's, the
// distances straight into the vector the dist object keeps, and karvel's
// conditions and warnings handed back for the R code to raise.

#include <Rcpp.h>

#include <karvel/karvel.hpp>

#include <cmath>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace K = Karvel::Lib;

namespace {

// The library's warnings arrive on any thread; R hears of them only after
// the call, from the R code, where warning() may safely jump.
std::mutex warnings_lock;
std::vector<std::string> warnings_heard;

void Listen_Once() {
  static std::once_flag once;
  std::call_once(once, [] {
    K::Set_Warning_Handler([](const std::string& message) {
      const std::lock_guard<std::mutex> hold(warnings_lock);
      warnings_heard.push_back(message);
    });
  });
}

std::vector<std::string> Warnings_Taken() {
  const std::lock_guard<std::mutex> hold(warnings_lock);
  return std::exchange(warnings_heard, {});
}

struct Settings {
  std::string Formula;
  std::string Transform;
  int Threads = 0;
  std::string Simd;
  bool Undefined_As_NaN = false;
  bool Pairwise = false;
  bool Average_Ties = false;
};

Settings Settings_Of(const Rcpp::List& settings) {
  Settings s;
  s.Formula = Rcpp::as<std::string>(settings["formula"]);
  s.Transform = Rcpp::as<std::string>(settings["transform"]);
  s.Threads = Rcpp::as<int>(settings["threads"]);
  s.Simd = Rcpp::as<std::string>(settings["simd"]);
  s.Undefined_As_NaN = Rcpp::as<bool>(settings["undefined_nan"]);
  s.Pairwise = Rcpp::as<bool>(settings["pairwise"]);
  s.Average_Ties = Rcpp::as<bool>(settings["average_ties"]);
  return s;
}

std::vector<std::string> Labels(const Rcpp::CharacterVector& labels) {
  return Rcpp::as<std::vector<std::string>>(labels);
}

// The first missing cell in the order of a file's text, taxon by taxon,
// though the cells are visited column by column.
class First_Missing {
public:
  explicit First_Missing(bool pairwise) : pairwise_(pairwise) {}
  // A missing cell: left out pair by pair, or the first one refused.
  void Note(R_xlen_t taxon, R_xlen_t character) {
    if (!pairwise_ && (taxon_ < 0 || taxon < taxon_ || (taxon == taxon_ && character < character_))) {
      taxon_ = taxon;
      character_ = character;
    }
  }
  void Refuse(const std::vector<std::string>& labels) const {
    if (taxon_ < 0) return;
    throw Karvel::Errors::Data_Error("taxon \"" + labels[static_cast<std::size_t>(taxon_)] +
                                     "\" has a missing value (NA) for character " + std::to_string(character_ + 1) +
                                     "; missing = \"pairwise\" leaves missing cells out pair by pair");
  }

private:
  bool pairwise_;
  R_xlen_t taxon_ = -1;
  R_xlen_t character_ = -1;
};

// R keeps a matrix by columns, karvel by rows: the one extra copy of the
// input is this transposition into `rows`, which the matrix then reads in
// place, so `rows` must outlive it.
K::Matrix Real_Matrix(const Rcpp::NumericMatrix& x, std::vector<std::string> labels, bool pairwise,
                      std::vector<double>& rows) {
  const R_xlen_t taxa = x.nrow(), characters = x.ncol();
  rows.assign(static_cast<std::size_t>(taxa * characters), 0.0);
  First_Missing missing(pairwise);
  const double* column = x.begin();
  for (R_xlen_t j = 0; j < characters; ++j, column += taxa)
    for (R_xlen_t i = 0; i < taxa; ++i) {
      if (std::isnan(column[i])) missing.Note(i, j);
      rows[static_cast<std::size_t>(i * characters + j)] = column[i];
    }
  missing.Refuse(labels);
  return K::Matrix::View_Values(std::move(labels), rows, static_cast<int>(characters));
}

// Presence and absence from a logical matrix or from numbers 0 and 1; NA is
// an unknown state, which binary formulas leave out of the pair's counts.
K::Matrix Binary_Matrix(SEXP x, std::vector<std::string> labels, bool pairwise) {
  const Rcpp::Dimension shape(Rf_getAttrib(x, R_DimSymbol));
  const R_xlen_t taxa = shape[0], characters = shape[1];
  std::vector<std::string> rows(static_cast<std::size_t>(taxa), std::string(static_cast<std::size_t>(characters), '?'));
  First_Missing missing(pairwise);
  for (R_xlen_t j = 0; j < characters; ++j)
    for (R_xlen_t i = 0; i < taxa; ++i) {
      const R_xlen_t at = j * taxa + i;
      double value = 0;
      bool missing_value = false;
      if (TYPEOF(x) == REALSXP) {
        value = REAL(x)[at];
        missing_value = std::isnan(value);
      } else {
        const int cell = TYPEOF(x) == LGLSXP ? LOGICAL(x)[at] : INTEGER(x)[at];
        missing_value = cell == NA_INTEGER;
        value = cell;
      }
      if (missing_value) {
        missing.Note(i, j);
        continue;
      }
      if (value != 0 && value != 1)
        throw Karvel::Errors::Data_Error("binary characters are 0 and 1 (or FALSE and TRUE), not " +
                                         std::to_string(value) + " (taxon \"" +
                                         labels[static_cast<std::size_t>(i)] + "\", character " +
                                         std::to_string(j + 1) + "); give numbers a continuous method");
      rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = value == 1 ? '1' : '0';
    }
  missing.Refuse(labels);
  return K::Matrix::From_Symbols(std::move(labels), rows, K::Datatype::BINARY);
}

// One symbol a cell; NA becomes '?', which only missing = "pairwise" leaves
// out (otherwise it is a state like any other, and NA is refused first).
K::Matrix Discrete_Matrix(const Rcpp::CharacterMatrix& x, std::vector<std::string> labels, bool pairwise) {
  const R_xlen_t taxa = x.nrow(), characters = x.ncol();
  std::vector<std::string> rows(static_cast<std::size_t>(taxa), std::string(static_cast<std::size_t>(characters), '?'));
  First_Missing missing(pairwise);
  for (R_xlen_t j = 0; j < characters; ++j)
    for (R_xlen_t i = 0; i < taxa; ++i) {
      SEXP cell = STRING_ELT(x, j * taxa + i);
      if (cell == NA_STRING) {
        missing.Note(i, j);
        continue;
      }
      if (LENGTH(cell) != 1)
        throw Karvel::Errors::Data_Error("discrete characters are one symbol (one byte) each, not \"" +
                                         std::string(CHAR(cell)) + "\" (taxon \"" +
                                         labels[static_cast<std::size_t>(i)] + "\", character " +
                                         std::to_string(j + 1) + ")");
      rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = CHAR(cell)[0];
    }
  missing.Refuse(labels);
  return K::Matrix::From_Symbols(std::move(labels), rows, K::Datatype::DISCRETE);
}

// Asked by the library on this (R's) thread between blocks of rows.
// R_CheckUserInterrupt jumps; under R_ToplevelExec the jump ends there.
void Check_Interrupt(void*) { R_CheckUserInterrupt(); }
bool Interrupted() { return R_ToplevelExec(Check_Interrupt, nullptr) == FALSE; }

Rcpp::List Failure(const Karvel::Errors::Error& e) {
  Warnings_Taken();
  return Rcpp::List::create(Rcpp::Named("condition") = e.Name(), Rcpp::Named("message") = e.what());
}

} // namespace

// The condensed distances (R's dist order) of x, or the condition that
// stopped them: list(distances, warnings) or list(condition, message).
// [[Rcpp::export(.kdist)]]
Rcpp::List Kdist(SEXP x, const std::string& kind, Rcpp::CharacterVector labels, Rcpp::List settings) {
  Listen_Once();
  const Settings s = Settings_Of(settings);
  try {
    std::vector<double> rows; // declared first: the matrix reads it
    std::optional<K::Matrix> data;
    if (kind == "continuous")
      data.emplace(Real_Matrix(Rcpp::NumericMatrix(x), Labels(labels), s.Pairwise, rows));
    else if (kind == "binary")
      data.emplace(Binary_Matrix(x, Labels(labels), s.Pairwise));
    else
      data.emplace(Discrete_Matrix(Rcpp::CharacterMatrix(x), Labels(labels), s.Pairwise));
    if (!s.Transform.empty()) K::Transform(*data, s.Transform);

    const auto taxa = static_cast<R_xlen_t>(data->Taxa());
    Rcpp::NumericVector distances(Rcpp::no_init(taxa * (taxa - 1) / 2));
    K::Options options;
    options.Threads = s.Threads;
    options.Simd = s.Simd;
    options.Undefined_As_NaN = s.Undefined_As_NaN;
    options.Missing = s.Pairwise ? K::Missing_Values::PAIRWISE : K::Missing_Values::ERROR;
    options.Average_Ties = s.Average_Ties;
    options.Interrupted = Interrupted;
    try {
      K::Condensed_Distances(*data, s.Formula, {distances.begin(), static_cast<std::size_t>(distances.size())},
                             options);
    } catch (const Karvel::Errors::Interrupt_Error&) {
      // R has the interrupt pending: it becomes R's own "interrupt" condition.
      Warnings_Taken();
      throw Rcpp::internal::InterruptedException();
    }
    return Rcpp::List::create(Rcpp::Named("distances") = distances, Rcpp::Named("warnings") = Warnings_Taken());
  } catch (const Karvel::Errors::Error& e) {
    return Failure(e);
  }
}

// [[Rcpp::export(.kformulas)]]
std::vector<std::string> Kformulas(const std::string& kind) {
  return K::Formula_Names(kind == "binary" ? K::Datatype::BINARY
                          : kind == "discrete" ? K::Datatype::DISCRETE
                                               : K::Datatype::CONTINUOUS);
}

// [[Rcpp::export(.ktransformations)]]
std::vector<std::string> Ktransformations() { return K::Transformation_Names(); }

// [[Rcpp::export(.kversion)]]
std::string Kversion() { return K::Version(); }
