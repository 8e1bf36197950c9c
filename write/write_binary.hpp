#pragma once
// Distance matrices as binary files for numerical tools: NumPy's .npy
// (format 1.0, little-endian float64) of the square matrix or of the
// condensed upper triangle, and the labels beside them as text.
//
// Every writer takes the rows in order from row 0, each with the distances
// of its taxon to every taxon, so the whole matrix never needs to be held.
// The npy layouts put a row's values at a place fixed by the number of taxa
// alone (Npy_Rows), so blocks of rows can also be written independently.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "text/text_io.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Binary_Output {

enum class Layout {
  NPY,           // n x n
  NPY_CONDENSED, // the n (n - 1) / 2 values (i, j), i < j, row after row (scipy's condensed order)
  HDF5           // write/write_hdf5.hpp
};

// Takes the rows of one matrix in order, then Finish. A row out of order, a
// row of another length, or Finish before the last row is a
// Constraint_Error.
class Matrix_Writer {
public:
  virtual ~Matrix_Writer() = default;
  // Row `row` (from 0): the distances from its taxon to every taxon.
  virtual void Put_Row(std::size_t row, std::span<const double> values) = 0;
  // Rows first .. first + count - 1, one after the other in `values`.
  virtual void Put_Rows(std::size_t first, std::size_t count, std::span<const double> values);
  virtual void Finish() = 0;
};

// Writers take rows in order: row `row` with `values` distances must be
// row `due` of `taxa`, else Constraint_Error.
void Check_Row(std::size_t row, std::size_t values, std::size_t due, std::size_t taxa);

// Where rows first .. past - 1 of a matrix of `taxa` taxa lie in an npy
// file, in bytes from its start.
struct Byte_Range {
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
};

// The npy header: magic, version, the array's description, padded so that
// the values start at a multiple of 64 bytes.
std::string Npy_Header(std::size_t taxa, Layout layout);
Byte_Range Npy_Rows(std::size_t taxa, Layout layout, std::size_t first, std::size_t past);

// An npy writer into `out`, which must outlive it; Finish flushes nothing,
// the caller flushes `out`.
std::unique_ptr<Matrix_Writer> Npy_Writer(Text_IO::Text_Output& out, std::size_t taxa, Layout layout);

// Where a binary layout's writer writes: the run's text output, which the
// npy bytes go through, and the file by name for a writer that opens it
// itself (HDF5): the temporary, or the file when written through, and the
// name messages give it.
struct Target {
  Text_IO::Text_Output* Text = nullptr;
  std::string Path;
  std::string Shown;
};
// A layout's writer of one matrix; its row of the layouts' table names it.
using Opener = std::unique_ptr<Matrix_Writer> (*)(const Target& target, const Taxon_Labels& labels, Layout layout);
std::unique_ptr<Matrix_Writer> Npy_Open(const Target& target, const Taxon_Labels& labels, Layout layout);

// The labels one a line, as the labels file beside an npy file holds them.
void Put_Labels(Text_IO::Text_Output& out, const Taxon_Labels& labels);

// The layout's name as written in messages and options.
const char* Name(Layout layout);

} // namespace Karvel::Phylo::Binary_Output
