#pragma once
// The data model: taxon labels, the character matrices of each kind, the data
// records that pair labels with a matrix, and the square distance matrix.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/errors.hpp"
#include "arrays/array_functions.hpp"
#include "arrays/row_matrix.hpp"
#include "text/char_sets.hpp"

namespace Karvel::Phylo {

// Which distances of a row a layout shows: all of them, those to the taxa
// before it (a lower triangle) or those to the taxa after it (an upper one).
enum class Row_Part { ALL, BEFORE, AFTER };

enum class Binary : std::uint8_t { PRESENCE, ABSENCE, UNKNOWN };

// What a missing value does (--missing). ERROR: a continuous matrix may not
// hold one, and every discrete symbol is a state, as karvel has always read
// them. PAIRWISE: missing cells are kept (a quiet NaN in a real matrix) and
// every pair of taxa is compared over the characters present in both.
enum class Missing_Rule { ERROR, PAIRWISE };

struct Discrete_Kind {
  static constexpr const char* Size_Error_Name = "PHYLO.DISC_CHARS.BASIC.SIZE_ERROR";
};
struct Binary_Kind {
  static constexpr const char* Size_Error_Name = "PHYLO.BINARY_CHARS.BASIC.SIZE_ERROR";
};
struct Real_Kind {
  static constexpr const char* Size_Error_Name = "PHYLO.REAL_CHARS.BASIC.SIZE_ERROR";
};

// A discrete value is the character as written in the input.
using Disc_Matrix = Generic::Row_Matrix<char>;
using Binary_Matrix = Generic::Row_Matrix<Binary>;
using Real_Matrix = Generic::Row_Matrix<double>;

namespace Discrete_Chars {
using Basic = Generic::Generic_Array_Functions<char, Discrete_Kind>;
}
namespace Binary_Chars {
using Basic = Generic::Generic_Array_Functions<Binary, Binary_Kind>;
}
namespace Real_Chars {
using Functions = Generic::Generic_Float_Functions<Real_Kind>;
using Basic = Functions::Basic;
inline double Max(double left, double right) { return Functions::Max(left, right); }
inline double Min(double left, double right) { return Functions::Min(left, right); }
inline double Sqrt(double x) { return Functions::Sqrt(x); }
inline double Arccos(double x) { return Functions::Arccos(x); }
} // namespace Real_Chars

// Labels indexed by taxon number, from 0.
using Taxon_Labels = std::vector<std::string>;

// A data record: one label and one row per taxon, both in taxon order.
template <class Matrix_Type>
struct Data_Record {
  Data_Record() = default;
  // A record from parts built elsewhere (the reader grows them as the input
  // is read).
  Data_Record(Taxon_Labels labels, Matrix_Type matrix) : Labels(std::move(labels)), Matrix(std::move(matrix)) {}

  Taxon_Labels Labels;
  Matrix_Type Matrix;
  // The names of the characters, where the input gives them (a table's
  // header, NEXUS charlabels); empty where it does not. Conversions write
  // them back.
  std::vector<std::string> Character_Names;
  // The symbols the input itself declares missing or gap (a NEXUS FORMAT's
  // MISSING and GAP), which --missing=pairwise leaves out besides ? and -.
  std::string Declared_Missing;

  int Taxa() const { return static_cast<int>(Labels.size()); }
};

using Disc_Data = Data_Record<Disc_Matrix>;
using Binary_Data = Data_Record<Binary_Matrix>;
using Real_Data = Data_Record<Real_Matrix>;
using Disc_Data_Access = std::unique_ptr<Disc_Data>;
using Binary_Data_Access = std::unique_ptr<Binary_Data>;
using Real_Data_Access = std::unique_ptr<Real_Data>;

// The distance matrix: labels and one contiguous square block.
struct Squared {
  explicit Squared(Taxon_Labels labels) : Labels(std::move(labels)) {}

  Taxon_Labels Labels;
  Generic::Square_Block Matrix;

  int Taxa() const { return static_cast<int>(Labels.size()); }
};
using Squared_Access = std::unique_ptr<Squared>;

// The whitespace set of the data model: the space and the ASCII control
// characters (0..32 and 127). Bytes from 128 up belong to labels and values:
// they are the continuation bytes of UTF-8 letters.
const TextUtils::Character_Set& Whitespace();

} // namespace Karvel::Phylo
