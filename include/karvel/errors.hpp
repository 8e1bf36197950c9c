#pragma once
// The named error conditions of karvel. Every part raises one of these where
// it finds the problem; the karvel program catches and reports them, and
// programs built on the library catch them by type. Self-contained: this is
// one of the installed headers.

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "karvel/utf8.hpp"

namespace Karvel::Errors {

// Base of every named condition: Name() is what the program prints before the
// message, in capitals and with dotted module prefixes (PHYLO.REAL_CHARS...);
// what() is the message. Messages quote the bytes of files and command
// lines; they keep controls and stray bytes as \xHH (Utf8::Shown), so that
// printing one never drives the terminal and a NUL never ends it early.
//
// The rest says where, for callers that point at the place themselves (an
// editor, a notebook) rather than print the message, which already says it:
// the pair of taxa whose distance failed (numbers from 0, and their labels
// where the matrix has them), and the file, line and column (from 1) at
// which reading failed. Each is empty where it does not apply: a reading
// error has no pair, the file is known only to whoever opened it, and an
// input that ends inside a matrix has a line but no column.
class Error : public std::runtime_error {
public:
  Error(const char* name, const std::string& message)
      : std::runtime_error(Utf8::Shown(message)), name_(name) {}
  const char* Name() const noexcept { return name_; }

  std::optional<int> Taxon_I() const noexcept { return taxon_i_; }
  std::optional<int> Taxon_J() const noexcept { return taxon_j_; }
  const std::string& Label_I() const noexcept { return label_i_; }
  const std::string& Label_J() const noexcept { return label_j_; }
  const std::string& File() const noexcept { return file_; }
  std::optional<long> Line() const noexcept { return line_; }
  std::optional<long> Column() const noexcept { return column_; }

  // Set where the error is raised or passed up through a part that knows.
  void Set_Pair(int taxon_i, int taxon_j, std::string label_i = {}, std::string label_j = {}) {
    taxon_i_ = taxon_i;
    taxon_j_ = taxon_j;
    label_i_ = std::move(label_i);
    label_j_ = std::move(label_j);
  }
  void Set_Place(long line, std::optional<long> column = std::nullopt) {
    line_ = line;
    column_ = column;
  }
  void Set_File(std::string file) { file_ = std::move(file); }

private:
  const char* name_;
  std::optional<int> taxon_i_, taxon_j_;
  std::string label_i_, label_j_;
  std::string file_;
  std::optional<long> line_, column_;
};

#define KARVEL_DECLARE_ERROR(Type, NAME)                                      \
  class Type : public Error {                                                 \
  public:                                                                     \
    explicit Type(const std::string& message) : Error(NAME, message) {}       \
  }

// A file name that names no file we can open (missing, or no permission).
KARVEL_DECLARE_ERROR(Name_Error, "NAME_ERROR");
// A file name that names something we cannot read as text (a directory).
KARVEL_DECLARE_ERROR(Use_Error, "USE_ERROR");
// Text that does not fit the input format.
KARVEL_DECLARE_ERROR(Data_Error, "DATA_ERROR");
// Input that ends inside a matrix.
KARVEL_DECLARE_ERROR(End_Error, "END_ERROR");
// A failed range, index or null check.
KARVEL_DECLARE_ERROR(Constraint_Error, "CONSTRAINT_ERROR");
// Square root of a negative number, arc cosine beyond +-1.
KARVEL_DECLARE_ERROR(Argument_Error, "ARGUMENT_ERROR");
// Output could not be written.
KARVEL_DECLARE_ERROR(Device_Error, "DEVICE_ERROR");
// Memory could not be had.
KARVEL_DECLARE_ERROR(Storage_Error, "STORAGE_ERROR");
// Settings that cannot be followed together, or an option the program
// does not know (a binary layout to a terminal, hdf5 to a pipe).
KARVEL_DECLARE_ERROR(Usage_Error, "USAGE_ERROR");

// A library call stopped by its caller between two blocks of rows
// (Options::Interrupted); the program never raises it.
KARVEL_DECLARE_ERROR(Interrupt_Error, "INTERRUPT_ERROR");

#undef KARVEL_DECLARE_ERROR

} // namespace Karvel::Errors
