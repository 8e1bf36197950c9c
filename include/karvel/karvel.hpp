#pragma once
// karvel as a library: character matrices are read, continuous characters
// transformed, the pairwise distances between the taxa computed and the
// distances or the data written, with the same results and the same bytes
// as the karvel program.
//
//   #include <karvel/karvel.hpp>
//
//   Karvel::Lib::Reader reader = Karvel::Lib::Reader::From_File("primates.phy");
//   Karvel::Lib::Output out(1); // standard output
//   while (std::optional<Karvel::Lib::Matrix> data = reader.Next()) {
//     std::vector<double> d(data->Cells());
//     Karvel::Lib::Distances(*data, "EUCLIDEAN", d); // d[i * taxa + j]
//     Karvel::Lib::Write_Distances(out, *data, d, Karvel::Lib::Output_Layout::EXTENDED_PHYLIP);
//   }
//   out.Flush();
//
// Taxa and characters are counted from 0. Failures are the exceptions of
// <karvel/errors.hpp>, all derived from Karvel::Errors::Error: Name() is the
// condition the program reports (DATA_ERROR, CONSTRAINT_ERROR, ...), what()
// the message. Distances and output use several threads; the results are
// the same, bit for bit, whatever their number. Objects of this interface
// are not shared between threads without the caller's own locking.

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "karvel/errors.hpp"
#include "karvel/version.hpp"

namespace Karvel::Lib {

// The version of the library this program runs with ("0.1.0"); KARVEL_VERSION
// and KARVEL_VERSION_MAJOR, _MINOR and _PATCH (karvel/version.hpp) give that
// of the headers it was compiled with.
const char* Version();

// The layouts matrices are read in, every one the program reads: PHYLIP (a
// label is the first ten characters of its record), extended PHYLIP (a label
// is one word) and commented PHYLIP (a label is one word, and the word after
// it is a comment that is dropped); CSV and TSV tables (a header row of
// character names, then a label and the values in each row; the whole text
// is one matrix); interleaved PHYLIP and extended PHYLIP; CSV2 (';' between
// cells, decimal commas); a NEXUS file's DATA or CHARACTERS block; FASTA.
// The readers use this enumeration too; new layouts are added at the end.
enum class Input_Layout {
  PHYLIP,
  EXTENDED_PHYLIP,
  COMMENTED_PHYLIP,
  CSV,
  TSV,
  PHYLIP_INTERLEAVED,
  EXTENDED_INTERLEAVED,
  CSV2,
  NEXUS,
  FASTA
};

// The layouts by the names the program's --from takes ("phylip", "nexus",
// "csv2", ...), and the layout of a name (none for another name).
std::vector<std::string> Input_Layout_Names();
std::optional<Input_Layout> Input_Layout_Named(std::string_view name);

// Where warnings go (labels that repeat or are not UTF-8, pairs written as
// NaN): each is one line without a line feed. Without a handler they are
// dropped. Set it before reading; it may be called from any thread.
void Set_Warning_Handler(std::function<void(const std::string& message)> handler);

// What the characters are: real numbers, one symbol per state, or 1
// (presence), 0 (absence) and any other symbol unknown.
// MIXED: a table whose columns each have a type of their own (CSV, TSV and
// CSV2 layouts), for Gower's coefficient with the column types told from
// the cells (numbers: continuous, else nominal) and every weight 1.
enum class Datatype { BINARY, CONTINUOUS, DISCRETE, MIXED };

// The layouts distances are written in, every one the program has (its
// --to names: Output_Layout_Name below). Data written in ONE_COLUMN or
// TAB_SEPARATED come out in EXTENDED_PHYLIP, as with the program's -W. LSMAT
// and CSV are tables indexed by label, PHYLIP_LOWER the lower triangle; FASTA
// holds character data only. NPY and NPY_CONDENSED are NumPy files (the
// square, or scipy's condensed order); HDF5 is written by the program to a
// named file only, so a Distance_Writer refuses it. New layouts are added at
// the end.
enum class Output_Layout {
  EXTENDED_PHYLIP, LABELS, NEXUS, NEXUS_ENCLOSED, ONE_COLUMN, PHYLIP, RAW, TAB_SEPARATED,
  LSMAT, CSV, PHYLIP_LOWER, FASTA, NPY, NPY_CONDENSED, HDF5
};
// The layout's name, as the program's --to takes it (e.g. "npy-condensed").
std::string Output_Layout_Name(Output_Layout layout);

// One character matrix with its taxon labels, as read. Moved, not copied
// (Copy() makes an independent one).
class Matrix {
public:
  Matrix(Matrix&&) noexcept;
  Matrix& operator=(Matrix&&) noexcept;
  ~Matrix();

  Matrix Copy() const;

  // A matrix from memory, as a Python or R session holds one: a label per
  // taxon, and their characters. From_Values takes CONTINUOUS characters,
  // `characters` values per taxon, row after row (labels.size() *
  // characters of them), copied. From_Symbols takes one row of symbols per
  // taxon, all of one length (BINARY or DISCRETE). A label list, row or
  // block of another size than the others is a Constraint_Error saying which;
  // so is a matrix without taxa or characters, or an empty label.
  static Matrix From_Values(std::vector<std::string> labels, std::span<const double> values, int characters);
  // As From_Values, without the copy: the matrix reads `values` where they
  // are, and the caller keeps them unchanged while the matrix lives (a
  // Python array the matrix holds a reference to). Transform, and Copy(),
  // copy them first; nothing writes into them.
  static Matrix View_Values(std::vector<std::string> labels, std::span<const double> values, int characters);
  static Matrix From_Symbols(std::vector<std::string> labels, std::span<const std::string> rows,
                             Datatype type = Datatype::DISCRETE);

  Datatype Type() const;
  int Taxa() const;
  int Characters() const;
  // Taxa() squared: the size of a buffer for all the distances.
  std::size_t Cells() const;
  const std::string& Label(int taxon) const;
  // The characters of one taxon: the numbers of a CONTINUOUS matrix, the
  // symbols as written of the others (Constraint_Error for the other kind).
  std::span<const double> Values(int taxon) const;
  std::string_view Symbols(int taxon) const;

private:
  friend struct Library_Access;
  struct State;
  explicit Matrix(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// What a missing value in continuous data (NA, NaN, N/A or ? in any
// layout, an empty or null table cell, a NEXUS matrix's missing symbol)
// does: ERROR (the default) makes it a Data_Error, PAIRWISE reads it as a
// quiet NaN, as the program's --missing=pairwise does.
enum class Missing_Values { ERROR, PAIRWISE };

// The matrices of one input, read one at a time in the layout and datatype
// given.
class Reader {
public:
  // A file by name: Name_Error when it cannot be opened, Use_Error when it is
  // a directory.
  static Reader From_File(const std::string& name, Input_Layout layout = Input_Layout::EXTENDED_PHYLIP,
                          Datatype type = Datatype::CONTINUOUS);
  // An open descriptor, read from where it stands and left open.
  static Reader From_Descriptor(int fd, Input_Layout layout = Input_Layout::EXTENDED_PHYLIP,
                                Datatype type = Datatype::CONTINUOUS);
  // A stream, which is read to its end at the first Next().
  static Reader From_Stream(std::istream& stream, Input_Layout layout = Input_Layout::EXTENDED_PHYLIP,
                            Datatype type = Datatype::CONTINUOUS);
  // Text in memory, copied.
  static Reader From_Text(std::string_view text, Input_Layout layout = Input_Layout::EXTENDED_PHYLIP,
                          Datatype type = Datatype::CONTINUOUS);

  Reader(Reader&&) noexcept;
  Reader& operator=(Reader&&) noexcept;
  ~Reader();

  // The next matrix, or nothing when only blank lines are left. Text that
  // does not fit the layout is a Data_Error, input that ends inside a matrix
  // an End_Error; the matrices before it have been handed out.
  std::optional<Matrix> Next();

  // The rule for the matrices read from now on.
  void Set_Missing(Missing_Values rule);

private:
  struct State;
  explicit Reader(std::unique_ptr<State> state);
  std::optional<Matrix> Next_Matrix();
  std::unique_ptr<State> state_;
};

// The transformations of continuous characters, by name: RANGING,
// FULL_RANGING, ROW_FRACTIONS, COLUMN_FRACTIONS, RANKS, AVERAGE_RANKS,
// Z_SCORES, FULL_Z_SCORES. Both rankings rank each taxon's values: RANKS
// from 0, equal values getting distinct ranks (the program's -K);
// AVERAGE_RANKS from 1, equal values sharing the mean of their ranks, as
// R's rank() and scipy.stats.rankdata do (-K --ties=average). The formula
// SPEARMAN ranks as RANKS does; PEARSON distances of a copy transformed by
// AVERAGE_RANKS are the program's -s --ties=average, the Spearman distance
// of R's cor(method = "spearman").
std::vector<std::string> Transformation_Names();
// Rewrites the values of a CONTINUOUS matrix in place. An unknown name or
// another datatype is a Constraint_Error.
void Transform(Matrix& data, std::string_view transformation);

// The distance formulae of one datatype, by name (e.g. EUCLIDEAN,
// SOKAL_SNEATH_1; CHI_SQUARE and SPEARMAN for continuous characters).
std::vector<std::string> Formula_Names(Datatype type);

// A transformation or a formula as a value, which only its one lookup by
// name makes: a name that names none is a Constraint_Error there, listing
// the names there are (of the matrix's datatype, for a formula), rather
// than at the call that uses it. The calls that take a name look it up
// alike; those that take a Formula also check that it is one of the
// matrix's datatype.
class Transformation {
public:
  const std::string& Name() const { return name_; }

private:
  friend Transformation Transformation_Named(std::string_view name);
  explicit Transformation(std::string name) : name_(std::move(name)) {}
  std::string name_;
};
Transformation Transformation_Named(std::string_view name);
void Transform(Matrix& data, const Transformation& transformation);

class Formula {
public:
  Datatype Type() const { return type_; }
  const std::string& Name() const { return name_; }

private:
  friend Formula Formula_Named(Datatype type, std::string_view name);
  Formula(Datatype type, std::string name) : type_(type), name_(std::move(name)) {}
  Datatype type_;
  std::string name_;
};
Formula Formula_Named(Datatype type, std::string_view name);

// How one call computes. Every call takes its own, so that nothing need be
// set for the whole process and two threads of a program (two Python
// sessions' calls, say) can ask differently. The results are the same bits
// whatever the threads and the instruction set.
struct Options {
  // Threads for the call; 0 takes Threads().
  int Threads = 0;
  // The instruction set of the kernels, by the names KARVEL_SIMD takes
  // ("scalar", "vector", "avx2", "avx512"); empty, the widest this
  // processor runs. One it does not run is a Constraint_Error.
  std::string Simd;
  // A pair whose distance is undefined is a quiet NaN, of which the warning
  // handler hears once, rather than the error that ends the call.
  bool Undefined_As_NaN = false;
  // Missing cells left out pair by pair, as the program's
  // --missing=pairwise: NaN in continuous data, and in discrete data ?, -,
  // a NEXUS matrix's missing and gap symbols, Missing_Symbols, and a
  // nucleotide matrix's ambiguity codes. Under ERROR every discrete symbol
  // is a state and a pair over a NaN fails.
  Missing_Values Missing = Missing_Values::ERROR;
  std::string Missing_Symbols;
  // The ranks of SPEARMAN: false, distinct ranks in the order the heap sort
  // leaves ties (the program's default); true, midranks (--ties=average).
  bool Average_Ties = false;
  // MIXED data: a type letter per character (c, o, n, s, a, as --types;
  // empty: told from the cells) and a weight per character (empty: all 1).
  std::string Types;
  std::vector<double> Weights;
  // Asked between blocks of rows; true stops the call with an
  // Interrupt_Error (a Python or R session's Ctrl-C). The caller's buffer
  // then holds the blocks done so far.
  std::function<bool()> Interrupted;
};

// The distances between all taxa of `data` with the named formula into a
// caller's buffer, a block of rows at a time, holding nothing more than one
// block besides: the square (Cells() values, square[i * Taxa() + j]), or
// scipy's condensed order (Taxa() * (Taxa() - 1) / 2 values: the pairs
// (0, 1), (0, 2), ..., (0, n - 1), (1, 2), ...). The same values, bit for
// bit, as Distances below and the program; the same errors.
void Distances(const Matrix& data, std::string_view formula, std::span<double> square, const Options& options);
void Condensed_Distances(const Matrix& data, std::string_view formula, std::span<double> condensed,
                         const Options& options = {});

// Rows First .. Past - 1 of the square matrix of distances: row i, the
// distances from taxon i to every taxon, is Row(i).
struct Distance_Rows {
  int First = 0;
  int Past = 0;
  int Taxa = 0;
  std::span<const double> Values; // (Past - First) * Taxa, row after row

  std::span<const double> Row(int taxon) const {
    return Values.subspan(static_cast<std::size_t>(taxon - First) * static_cast<std::size_t>(Taxa),
                          static_cast<std::size_t>(Taxa));
  }
};

// The distances between all taxa of `data` with the formula of its datatype
// named `formula`, into `square`: Cells() values, square[i * Taxa() + j]
// for taxa i and j. The matrix is left as it is. An unknown formula or a
// buffer of another size is a Constraint_Error; a pair whose distance is
// undefined (a negative, infinite or not-a-number value) is a
// Constraint_Error, a square root or arc cosine out of its domain an
// Argument_Error, both naming the two taxa.
void Distances(const Matrix& data, std::string_view formula, std::span<double> square);
// The same distances handed to `take` in blocks of at most `max_rows` rows
// (at least 1), in order from row 0, each computed when its turn comes, so
// that only one block is ever held; the rows stay valid only during the
// call. A failing pair is raised when its block is reached, after the rows
// before the first row that holds one have been handed out.
void Distances(const Matrix& data, std::string_view formula, int max_rows,
               const std::function<void(const Distance_Rows&)>& take);

// The calls above, and the writers' below, with a formula as a value.
void Distances(const Matrix& data, const Formula& formula, std::span<double> square);
void Distances(const Matrix& data, const Formula& formula, std::span<double> square, const Options& options);
void Condensed_Distances(const Matrix& data, const Formula& formula, std::span<double> condensed,
                         const Options& options = {});
void Distances(const Matrix& data, const Formula& formula, int max_rows,
               const std::function<void(const Distance_Rows&)>& take);

// Where text is written: a descriptor (left open), a string (appended to)
// or a stream. Text is buffered: it has all arrived after Flush(), which is
// a Device_Error when the descriptor or stream refuses it; the destructor
// flushes too but cannot report.
class Output {
public:
  explicit Output(int fd);
  explicit Output(std::string& text);
  explicit Output(std::ostream& stream);
  Output(Output&&) noexcept;
  Output& operator=(Output&&) noexcept;
  ~Output();

  void Flush();

private:
  friend struct Library_Access;
  struct State;
  std::unique_ptr<State> state_;
};

// The data of the matrix (what the program's -W writes); `exact`, each
// number in the fewest digits that read back as the same double (--exact).
void Write_Data(Output& output, const Matrix& data, Output_Layout layout, bool exact = false);
// The distances with the named formula, computed and written: what the
// program writes for the matrix.
void Write_Distances(Output& output, const Matrix& data, std::string_view formula, Output_Layout layout);
// Distances the caller holds, Cells() of them as Distances() makes them,
// labelled with the taxa of `data`.
void Write_Distances(Output& output, const Matrix& data, std::span<const double> square, Output_Layout layout);

// Writes the distances of `data` by `formula` to the file `path` in
// `layout`, hdf5 included, as `karvel --output=path` does: under a
// temporary name beside it, renamed over `path` only when all is written
// (an npy matrix with its labels beside it, path.labels.txt, the two
// taking their names together); a device or FIFO is written through. More
// distances than `memory` bytes are computed and written a block of rows at
// a time. On an error `path` is as it was.
void Write_Distances_To_File(const std::string& path, const Matrix& data, std::string_view formula,
                             Output_Layout layout, std::size_t memory = std::size_t{1} << 30);
// The same for distances the caller holds (Cells() of them, labelled with
// the taxa of `data`), in any layout: a Python or R session's square;
// `exact` as for Write_Data.
void Write_Distances_To_File(const std::string& path, const Matrix& data, std::span<const double> square,
                             Output_Layout layout, bool exact = false);

void Write_Distances(Output& output, const Matrix& data, const Formula& formula, Output_Layout layout);
void Write_Distances_To_File(const std::string& path, const Matrix& data, const Formula& formula,
                             Output_Layout layout, std::size_t memory = std::size_t{1} << 30);

// Writes distances a block of rows at a time, so that the whole square need
// never be held: the header when made, then Put() for the rows in order
// from row 0, then Finish() for the footer. Rows out of order, or Finish()
// before the last row, are a Constraint_Error. The text is the one
// Write_Distances writes. The output must outlive the writer.
class Distance_Writer {
public:
  Distance_Writer(Output& output, const Matrix& data, Output_Layout layout);
  Distance_Writer(Distance_Writer&&) noexcept;
  Distance_Writer& operator=(Distance_Writer&&) noexcept;
  ~Distance_Writer();

  void Put(const Distance_Rows& rows);
  void Finish();

private:
  struct State;
  std::unique_ptr<State> state_;
};

// How many threads distances and output use: the number set last, else the
// CPUs this process may run on.
int Threads();
void Set_Threads(int count);

} // namespace Karvel::Lib
