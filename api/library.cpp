// The public interface over the pipeline the program runs: names and public
// layouts are mapped to the internal ones here, and nowhere else.

#include "karvel/karvel.hpp"

#include <algorithm>
#include <array>
#include <istream>
#include <ostream>
#include <utility>
#include <vector>

#include "api/destination.hpp"
#include "api/pipeline.hpp"
#include "api/run.hpp"
#include "diagnostics/warnings.hpp"
#include "distance/formulas.hpp"
#include "threads/parallel.hpp"
#include "simd/simd.hpp"

namespace Karvel::Lib {

namespace Pipeline = Phylo::Pipeline;
namespace Formulas = Phylo::Distfunc::Formulas;
using Phylo::Print::Dist_Output_Format;
namespace Real_Chars = Phylo::Real_Chars;

struct Matrix::State {
  Pipeline::Data Data;
};

struct Output::State {
  explicit State(int fd) : Text(fd) {}
  explicit State(std::string* sink) : Text(sink) {}
  explicit State(std::ostream& stream) : Stream(&stream), Text(&Pending) {}
  ~State() {
    // Nobody is left to hear of a failure here; Flush() is how to learn of it.
    try {
      Flush();
    } catch (...) {
    }
  }

  void Flush() {
    Text.Flush();
    if (!Stream) return;
    Pass_On();
    Stream->flush();
    if (!*Stream) throw Errors::Device_Error("the output stream cannot be written");
  }
  // Called after everything that writes: a stream gets the text at once,
  // so that only one call's text is ever held for it.
  void Written() {
    if (!Stream) return;
    Text.Flush();
    Pass_On();
  }

  std::ostream* Stream = nullptr;
  std::string Pending; // a stream's text on its way
  Text_IO::Text_Output Text;

private:
  void Pass_On() {
    Stream->write(Pending.data(), static_cast<std::streamsize>(Pending.size()));
    Pending.clear();
    if (!*Stream) throw Errors::Device_Error("the output stream cannot be written");
  }
};

struct Library_Access {
  using Output_State = Output::State;
  static const Pipeline::Data& Data(const Matrix& matrix) { return matrix.state_->Data; }
  static Pipeline::Data& Data(Matrix& matrix) { return matrix.state_->Data; }
  static Matrix Make(Pipeline::Data data) {
    return Matrix(std::make_unique<Matrix::State>(Matrix::State{std::move(data)}));
  }
  static Output_State& Of(Output& output) { return *output.state_; }
};

namespace {

// A layout cast from a number the enumeration does not have.
Input_Layout Checked(Input_Layout layout) {
  if (static_cast<std::size_t>(layout) > static_cast<std::size_t>(Input_Layout::FASTA))
    throw Errors::Constraint_Error("not an input layout");
  return layout;
}

Pipeline::Datatype Internal(Datatype type) {
  switch (type) {
  case Datatype::BINARY: return Pipeline::Datatype::BINARY;
  case Datatype::DISCRETE: return Pipeline::Datatype::DISCRETE;
  case Datatype::MIXED: return Pipeline::Datatype::MIXED;
  case Datatype::CONTINUOUS: break;
  }
  return Pipeline::Datatype::CONTINUOUS;
}



// The public names of the transformations; those of the formulae are the
// names in the formula tables, the same that messages use.
template <class Value>
struct Named {
  const char* Name;
  Value Meaning;
};

constexpr std::array<Named<Real_Chars::Transformation>, 8> Transformations{{
    {"RANGING", Real_Chars::Transformation::RANGING},
    {"FULL_RANGING", Real_Chars::Transformation::FULL_RANGING},
    {"ROW_FRACTIONS", Real_Chars::Transformation::ROW_FRACTIONS},
    {"COLUMN_FRACTIONS", Real_Chars::Transformation::COLUMN_FRACTIONS},
    {"RANKS", Real_Chars::Transformation::RANKS},
    {"AVERAGE_RANKS", Real_Chars::Transformation::AVERAGE_RANKS},
    {"Z_SCORES", Real_Chars::Transformation::Z_SCORES},
    {"FULL_Z_SCORES", Real_Chars::Transformation::FULL_Z_SCORES},
}};

template <class Table>
std::vector<std::string> Names_Of(const Table& table) {
  std::vector<std::string> names;
  for (const auto& entry : table) names.emplace_back(entry.Name);
  return names;
}

template <class Table>
const auto& Look_Up(const Table& table, std::string_view name, const char* what) {
  for (const auto& entry : table)
    if (name == entry.Name) return entry;
  std::string known;
  for (const auto& entry : table) known += std::string(known.empty() ? "" : ", ") + entry.Name;
  throw Errors::Constraint_Error(std::string("there is no ") + what + " named \"" + std::string(name) +
                                 "\" (there are " + known + ")");
}

Pipeline::Formula Formula_Named(Pipeline::Datatype type, std::string_view name) {
  Pipeline::Formula formula;
  switch (type) {
  case Pipeline::Datatype::BINARY:
    formula.Binary = Look_Up(Formulas::Binary, name, "binary distance formula").Value;
    break;
  case Pipeline::Datatype::DISCRETE:
    formula.Discrete = Look_Up(Formulas::Discrete, name, "discrete distance formula").Value;
    break;
  case Pipeline::Datatype::MIXED:
    Look_Up(Phylo::Distfunc::Mixed_Formulas, name, "mixed distance formula");
    break;
  case Pipeline::Datatype::CONTINUOUS: {
    const Formulas::Real_Row& row = Look_Up(Formulas::Real, name, "continuous distance formula");
    formula.Real = row.Value;
    formula.Implied = row.Implied;
    break;
  }
  }
  return formula;
}

void Require_Cells(const Matrix& data, std::size_t cells) {
  if (cells != data.Cells())
    throw Errors::Constraint_Error("range check failed: " + std::to_string(data.Taxa()) + " taxa have " +
                                   std::to_string(data.Cells()) + " distances, not " + std::to_string(cells));
}

} // namespace

// --- Matrix

Matrix::Matrix(std::unique_ptr<State> state) : state_(std::move(state)) {}
Matrix::Matrix(Matrix&&) noexcept = default;
Matrix& Matrix::operator=(Matrix&&) noexcept = default;
Matrix::~Matrix() = default;

Matrix Matrix::Copy() const { return Library_Access::Make(state_->Data.Copy()); }

namespace {

// What a reader would have refused in a matrix handed over whole.
void Check_Shape(const std::vector<std::string>& labels, int characters) {
  if (labels.empty()) throw Errors::Constraint_Error("range check failed: a matrix from memory has no taxa");
  if (characters < 1)
    throw Errors::Constraint_Error("range check failed: a matrix from memory has " + std::to_string(characters) +
                                   " characters");
  for (std::size_t t = 0; t < labels.size(); ++t)
    if (labels[t].empty())
      throw Errors::Constraint_Error("range check failed: taxon " + std::to_string(t) + " has an empty label");
}

} // namespace

namespace {

Matrix Numbers(std::vector<std::string> labels, std::span<const double> values, int characters, bool copied) {
  Check_Shape(labels, characters);
  const std::size_t expected = labels.size() * static_cast<std::size_t>(characters);
  if (values.size() != expected)
    throw Errors::Constraint_Error("range check failed: " + std::to_string(labels.size()) + " taxa of " +
                                   std::to_string(characters) + " characters are " + std::to_string(expected) +
                                   " values, not " + std::to_string(values.size()));
  Phylo::Real_Matrix matrix;
  if (copied) {
    matrix.Reserve_Values(expected);
    std::copy(values.begin(), values.end(), matrix.Add_Rows(labels.size(), characters));
  } else {
    matrix.Borrow(values.data(), labels.size(), characters);
  }
  Pipeline::Data data;
  data.Type = Pipeline::Datatype::CONTINUOUS;
  data.Numbers = std::make_unique<Phylo::Real_Data>(std::move(labels), std::move(matrix));
  return Library_Access::Make(std::move(data));
}

} // namespace

Matrix Matrix::From_Values(std::vector<std::string> labels, std::span<const double> values, int characters) {
  return Numbers(std::move(labels), values, characters, true);
}

Matrix Matrix::View_Values(std::vector<std::string> labels, std::span<const double> values, int characters) {
  return Numbers(std::move(labels), values, characters, false);
}

Matrix Matrix::From_Symbols(std::vector<std::string> labels, std::span<const std::string> rows, Datatype type) {
  if (type == Datatype::CONTINUOUS)
    throw Errors::Constraint_Error("continuous characters are numbers: Matrix::From_Values takes them");
  if (rows.size() != labels.size())
    throw Errors::Constraint_Error("range check failed: " + std::to_string(labels.size()) + " labels and " +
                                   std::to_string(rows.size()) + " rows of symbols");
  const int characters = rows.empty() ? 0 : static_cast<int>(rows.front().size());
  Check_Shape(labels, characters);
  Phylo::Disc_Matrix matrix;
  matrix.Reserve_Values(rows.size() * static_cast<std::size_t>(characters));
  for (std::size_t t = 0; t < rows.size(); ++t) {
    if (rows[t].size() != rows.front().size())
      throw Errors::Constraint_Error("range check failed: the row of taxon " + std::to_string(t) + " has " +
                                     std::to_string(rows[t].size()) + " symbols, the first " +
                                     std::to_string(characters));
    matrix.Append_Row(std::span<const char>(rows[t].data(), rows[t].size()));
  }
  Pipeline::Data data;
  data.Type = Internal(type);
  data.Symbols = std::make_unique<Phylo::Disc_Data>(std::move(labels), std::move(matrix));
  return Library_Access::Make(std::move(data));
}

Datatype Matrix::Type() const {
  switch (state_->Data.Type) {
  case Pipeline::Datatype::BINARY: return Datatype::BINARY;
  case Pipeline::Datatype::DISCRETE: return Datatype::DISCRETE;
  case Pipeline::Datatype::MIXED: return Datatype::MIXED;
  case Pipeline::Datatype::CONTINUOUS: break;
  }
  return Datatype::CONTINUOUS;
}

int Matrix::Taxa() const { return state_->Data.Taxa(); }
int Matrix::Characters() const { return state_->Data.Characters(); }
std::size_t Matrix::Cells() const { return static_cast<std::size_t>(Taxa()) * static_cast<std::size_t>(Taxa()); }

const std::string& Matrix::Label(int taxon) const {
  if (taxon < 0 || taxon >= Taxa())
    throw Errors::Constraint_Error("index check failed: taxon " + std::to_string(taxon) + " of " +
                                   std::to_string(Taxa()));
  return state_->Data.Labels()[static_cast<std::size_t>(taxon)];
}

std::span<const double> Matrix::Values(int taxon) const {
  if (!state_->Data.Numbers) throw Errors::Constraint_Error("the characters of this matrix are not numbers");
  const Phylo::Real_Data& data = *state_->Data.Numbers;
  return data.Matrix.Row(taxon);
}

std::string_view Matrix::Symbols(int taxon) const {
  if (!state_->Data.Symbols) throw Errors::Constraint_Error("the characters of this matrix are numbers");
  const Phylo::Disc_Data& data = *state_->Data.Symbols;
  const std::span<const char> row = data.Matrix.Row(taxon);
  return {row.data(), row.size()};
}

// --- Reader

struct Reader::State {
  std::unique_ptr<Text_IO::Text_Input> Input; // null until a stream has been read
  std::istream* Stream = nullptr;
  std::string Text; // a stream's text, which the input reads where it is
  Phylo::Read::Input_Format Format;
  Pipeline::Datatype Type;
  bool Started = false; // past a byte order mark
  Phylo::Missing_Rule Missing = Phylo::Missing_Rule::ERROR;
  std::string File{}; // the name opened, which errors carry; empty for the others
};

namespace {

// An error from reading or opening a named file carries its name.
template <class Read>
auto In_File(const std::string& file, Read read) {
  try {
    return read();
  } catch (Errors::Error& error) {
    if (!file.empty() && error.File().empty()) error.Set_File(file);
    throw;
  }
}

} // namespace

Reader::Reader(std::unique_ptr<State> state) : state_(std::move(state)) {}
Reader::Reader(Reader&&) noexcept = default;
Reader& Reader::operator=(Reader&&) noexcept = default;
Reader::~Reader() = default;

Reader Reader::From_File(const std::string& name, Input_Layout layout, Datatype type) {
  auto state = std::make_unique<State>(State{In_File(name, [&] { return Text_IO::Text_Input::Open(name); }), nullptr,
                                             {}, Checked(layout), Internal(type), false});
  state->File = name;
  return Reader(std::move(state));
}

Reader Reader::From_Descriptor(int fd, Input_Layout layout, Datatype type) {
  return Reader(std::make_unique<State>(
      State{std::make_unique<Text_IO::Text_Input>(fd, false), nullptr, {}, Checked(layout), Internal(type), false}));
}

Reader Reader::From_Stream(std::istream& stream, Input_Layout layout, Datatype type) {
  return Reader(std::make_unique<State>(State{nullptr, &stream, {}, Checked(layout), Internal(type), false}));
}

Reader Reader::From_Text(std::string_view text, Input_Layout layout, Datatype type) {
  return Reader(std::make_unique<State>(
      State{std::make_unique<Text_IO::Text_Input>(text), nullptr, {}, Checked(layout), Internal(type), false}));
}

std::optional<Matrix> Reader::Next() {
  return In_File(state_->File, [this] { return Next_Matrix(); });
}

std::optional<Matrix> Reader::Next_Matrix() {
  State& s = *state_;
  if (!s.Input) {
    char chunk[1 << 16];
    while (s.Stream->read(chunk, sizeof chunk) || s.Stream->gcount() > 0)
      s.Text.append(chunk, static_cast<std::size_t>(s.Stream->gcount()));
    if (s.Stream->bad()) throw Errors::Use_Error("the input stream cannot be read");
    s.Input = std::make_unique<Text_IO::Text_Input>(s.Text, Text_IO::Text_Input::Borrowed{});
  }
  if (!s.Started) {
    s.Input->Skip_Byte_Order_Mark();
    s.Started = true;
  }
  if (s.Input->At_End_Of_Input()) return std::nullopt;
  Run_Settings settings;
  settings.Format = s.Format;
  settings.Datatype = s.Type;
  settings.Missing = s.Missing;
  return Library_Access::Make(Read_Next_Matrix(*s.Input, settings));
}

void Reader::Set_Missing(Missing_Values rule) {
  state_->Missing = rule == Missing_Values::PAIRWISE ? Phylo::Missing_Rule::PAIRWISE : Phylo::Missing_Rule::ERROR;
}

const char* Version() { return KARVEL_VERSION; }

std::vector<std::string> Input_Layout_Names() {
  std::vector<std::string> names;
  for (const auto& row : Phylo::Read::Input_Format_Names) names.emplace_back(row.Name);
  return names;
}

std::optional<Input_Layout> Input_Layout_Named(std::string_view name) {
  for (const auto& row : Phylo::Read::Input_Format_Names) {
    if (row.Name == name) return row.Format;
  }
  return std::nullopt;
}

void Set_Warning_Handler(std::function<void(const std::string& message)> handler) {
  Generic::Warnings::Set_Sink(std::move(handler));
}

// --- Transformations and distances

std::vector<std::string> Transformation_Names() { return Names_Of(Transformations); }

void Transform(Matrix& data, std::string_view transformation) {
  const Real_Chars::Transformation meaning = Look_Up(Transformations, transformation, "transformation").Meaning;
  // The transformations write rows on several threads: a borrowed block
  // becomes the matrix's own here, once.
  if (Pipeline::Data& internal = Library_Access::Data(data); internal.Numbers) internal.Numbers->Matrix.Own();
  Pipeline::Transform(Library_Access::Data(data), meaning);
}

std::vector<std::string> Formula_Names(Datatype type) {
  switch (type) {
  case Datatype::BINARY: return Names_Of(Formulas::Binary);
  case Datatype::DISCRETE: return Names_Of(Formulas::Discrete);
  case Datatype::MIXED: return Names_Of(Phylo::Distfunc::Mixed_Formulas);
  case Datatype::CONTINUOUS: break;
  }
  return Names_Of(Formulas::Real);
}

void Distances(const Matrix& data, std::string_view formula, std::span<double> square) {
  Require_Cells(data, square.size());
  const Pipeline::Data& internal = Library_Access::Data(data);
  const Phylo::Squared_Access distances = Pipeline::Distances(internal, Formula_Named(internal.Type, formula));
  std::copy_n(distances->Matrix.Data(), square.size(), square.data());
}

namespace {

// Rows of the upper triangle (each pair once, in the row of its earlier
// taxon) a block at a time, handed to `take(first, past, rows)` with the
// options of the call in force; the failing pairs raised, or kept as NaN
// and warned of once at the end.
template <class Take>
void Upper_Rows(const Matrix& data, std::string_view formula, const Options& options, double* into_square,
                Take&& take) {
  std::optional<Generic::Parallel::Call_Threads> threads;
  if (options.Threads > 0) threads.emplace(options.Threads);
  std::optional<Generic::Simd::Call_Path> path;
  if (!options.Simd.empty()) {
    const std::optional<Generic::Simd::Path> named = Generic::Simd::Parse(options.Simd);
    if (!named || !Generic::Simd::Available(*named))
      throw Errors::Constraint_Error("there is no instruction set named \"" + options.Simd + "\" on this processor (" +
                                     Generic::Simd::Names(true) + ")");
    path.emplace(*named);
  }
  const Pipeline::Data& internal = Library_Access::Data(data);
  Pipeline::Formula named_formula = Formula_Named(internal.Type, formula);
  named_formula.Undefined_As_NaN = options.Undefined_As_NaN;
  named_formula.Missing =
      options.Missing == Missing_Values::PAIRWISE ? Phylo::Missing_Rule::PAIRWISE : Phylo::Missing_Rule::ERROR;
  named_formula.Missing_Symbols = options.Missing_Symbols;
  if (named_formula.Implied)
    named_formula.Implied = Phylo::Real_Chars::With_Ties(
        *named_formula.Implied, options.Average_Ties ? Phylo::Real_Chars::Ties::AVERAGE : Phylo::Real_Chars::Ties::HEAP);
  named_formula.Mixed_Types = options.Types;
  named_formula.Mixed_Weights = options.Weights;
  const Pipeline::Row_Blocks blocks(internal, named_formula);
  const int taxa = data.Taxa();
  const auto width = static_cast<std::size_t>(taxa);
  // About 32 MB of distances a block: the interrupt is heard often, and
  // a condensed buffer needs no more scratch than that.
  const int block = static_cast<int>(std::clamp<std::size_t>((std::size_t{1} << 22) / std::max<std::size_t>(width, 1),
                                                             1, static_cast<std::size_t>(std::max(taxa, 1))));
  std::vector<double> scratch(into_square ? 0 : static_cast<std::size_t>(block) * width);
  Phylo::Distfunc::Undefined_Pairs undefined;
  for (int first = 0; first < taxa; first += block) {
    if (options.Interrupted && options.Interrupted()) throw Errors::Interrupt_Error("interrupted by the caller");
    const int past = std::min(taxa, first + block);
    double* rows = into_square ? into_square + static_cast<std::size_t>(first) * width : scratch.data();
    const Phylo::Distfunc::Failed_Pair failed =
        blocks.Compute(first, past, Phylo::Distfunc::Row_Part::AFTER, Phylo::Distfunc::Pair_Order::TAXA, rows,
                       options.Undefined_As_NaN ? &undefined : nullptr);
    if (failed.Found()) blocks.Raise(failed);
    take(first, past, static_cast<const double*>(rows));
  }
  if (undefined.Count > 0) blocks.Warn(undefined);
}

} // namespace

void Distances(const Matrix& data, std::string_view formula, std::span<double> square, const Options& options) {
  Require_Cells(data, square.size());
  const auto taxa = static_cast<std::size_t>(data.Taxa());
  Upper_Rows(data, formula, options, square.data(), [](int, int, const double*) {});
  // Each pair was computed once, into the row of its earlier taxon.
  for (std::size_t i = 0; i < taxa; ++i)
    for (std::size_t j = 0; j < i; ++j) square[i * taxa + j] = square[j * taxa + i];
}

void Condensed_Distances(const Matrix& data, std::string_view formula, std::span<double> condensed,
                         const Options& options) {
  const auto taxa = static_cast<std::size_t>(data.Taxa());
  const std::size_t pairs = taxa * (taxa - (taxa > 0 ? 1 : 0)) / 2;
  if (condensed.size() != pairs)
    throw Errors::Constraint_Error("range check failed: " + std::to_string(taxa) + " taxa have " +
                                   std::to_string(pairs) + " pairs, not " + std::to_string(condensed.size()));
  Upper_Rows(data, formula, options, nullptr, [&](int first, int past, const double* rows) {
    for (int i = first; i < past; ++i) {
      const auto row = static_cast<std::size_t>(i);
      // Pairs (i, i + 1) .. (i, n - 1) follow those of the rows before.
      const std::size_t at = row * taxa - row * (row + 1) / 2;
      const double* from = rows + (row - static_cast<std::size_t>(first)) * taxa + row + 1;
      std::copy(from, from + (taxa - row - 1), condensed.begin() + static_cast<std::ptrdiff_t>(at));
    }
  });
}

void Distances(const Matrix& data, std::string_view formula, int max_rows,
               const std::function<void(const Distance_Rows&)>& take) {
  if (max_rows < 1)
    throw Errors::Constraint_Error("range check failed: a block holds at least one row, not " +
                                   std::to_string(max_rows));
  const Pipeline::Data& internal = Library_Access::Data(data);
  const Pipeline::Row_Blocks blocks(internal, Formula_Named(internal.Type, formula));
  const int taxa = data.Taxa();
  const auto width = static_cast<std::size_t>(taxa);
  std::vector<double> rows(static_cast<std::size_t>(std::min(max_rows, taxa)) * width);
  for (int first = 0; first < taxa;) {
    const int past = first + std::min(max_rows, taxa - first);
    const Phylo::Distfunc::Failed_Pair failed =
        blocks.Compute(first, past, Phylo::Distfunc::Row_Part::ALL, Phylo::Distfunc::Pair_Order::ROWS, rows.data());
    // The rows before the failing pair's are whole: they go out first.
    const int stop = failed.Found() ? failed.I : past;
    if (stop > first)
      take(Distance_Rows{first, stop, taxa, {rows.data(), static_cast<std::size_t>(stop - first) * width}});
    if (failed.Found()) blocks.Raise(failed);
    first = past;
  }
}

// --- Output

Output::Output(int fd) : state_(std::make_unique<State>(fd)) {}
Output::Output(std::string& text) : state_(std::make_unique<State>(&text)) {}
Output::Output(std::ostream& stream) : state_(std::make_unique<State>(stream)) {}
Output::Output(Output&&) noexcept = default;
Output& Output::operator=(Output&&) noexcept = default;
Output::~Output() = default;

void Output::Flush() { state_->Flush(); }

void Write_Data(Output& output, const Matrix& data, Output_Layout layout, bool exact) {
  Library_Access::Output_State& out = Library_Access::Of(output);
  Pipeline::Put_Data(out.Text, Library_Access::Data(data), layout,
                     exact ? Phylo::Print::Shortest_Aft : Phylo::Print::Default_Aft);
  out.Written();
}

void Write_Distances(Output& output, const Matrix& data, std::string_view formula, Output_Layout layout) {
  const Pipeline::Data& internal = Library_Access::Data(data);
  const Phylo::Squared_Access distances = Pipeline::Distances(internal, Formula_Named(internal.Type, formula));
  if (Phylo::Print::Layout_Row(layout).Binary) {
    const auto taxa = static_cast<std::size_t>(data.Taxa());
    Write_Distances(output, data, std::span<const double>(taxa > 0 ? distances->Matrix.Row(0) : nullptr, taxa * taxa),
                    layout);
    return;
  }
  Library_Access::Output_State& out = Library_Access::Of(output);
  Pipeline::Put_Distances(out.Text, *distances, layout);
  out.Written();
}

namespace {

// The program's settings for writing `layout` to the file `path`.
Run_Settings File_Settings(const std::string& path, Output_Layout layout) {
  const Phylo::Print::Layout& row = Phylo::Print::Layout_Row(layout);
  Run_Settings settings;
  settings.Output_File = path;
  if (row.Binary)
    settings.Binary_Output = *row.Binary;
  else
    settings.Output = layout;
  return settings;
}

} // namespace

void Write_Distances_To_File(const std::string& path, const Matrix& data, std::string_view formula,
                             Output_Layout layout, std::size_t memory) {
  Run_Settings settings = File_Settings(path, layout);
  settings.Memory = memory;
  std::string unused;
  Text_IO::Text_Output standard_output(&unused);
  Destination destination(settings, standard_output);
  const Pipeline::Data& internal = Library_Access::Data(data);
  Put_Matrix_Distances(internal, Formula_Named(internal.Type, formula), settings, destination.Text(), &destination);
  destination.Commit();
}

void Write_Distances_To_File(const std::string& path, const Matrix& data, std::span<const double> square,
                             Output_Layout layout, bool exact) {
  Require_Cells(data, square.size());
  const Phylo::Print::Layout& row = Phylo::Print::Layout_Row(layout);
  Run_Settings settings = File_Settings(path, layout);
  std::string unused;
  Text_IO::Text_Output standard_output(&unused);
  Destination destination(settings, standard_output);
  // The writers take a labelled block; the caller's square is copied into one.
  Phylo::Squared distances(Library_Access::Data(data).Labels());
  const int taxa = data.Taxa();
  distances.Matrix = Generic::Square_Block(0, taxa - 1);
  if (taxa > 0) std::copy(square.begin(), square.end(), distances.Matrix.Data());
  if (row.Binary)
    destination.Put_Binary(distances);
  else
    Pipeline::Put_Distances(destination.Text(), distances, layout,
                            exact ? Phylo::Print::Shortest_Aft : Phylo::Print::Default_Aft);
  destination.Commit();
}

std::string Output_Layout_Name(Output_Layout layout) { return std::string(Phylo::Print::Layout_Row(layout).Name); }

void Write_Distances(Output& output, const Matrix& data, std::span<const double> square, Output_Layout layout) {
  Require_Cells(data, square.size());
  Distance_Writer writer(output, data, layout);
  writer.Put(Distance_Rows{0, data.Taxa(), data.Taxa(), square});
  writer.Finish();
}

struct Distance_Writer::State {
  Library_Access::Output_State* Out;
  Phylo::Taxon_Labels Labels;
  Dist_Output_Format Format;
  std::optional<Phylo::Print::Row_Layout> Layout;
  // The npy layouts: their writer into Out's text.
  std::unique_ptr<Phylo::Binary_Output::Matrix_Writer> Binary;
  int Next = 0;
  bool Finished = false;
};

Distance_Writer::Distance_Writer(Output& output, const Matrix& data, Output_Layout layout) {
  const Phylo::Print::Layout& row = Phylo::Print::Layout_Row(layout);
  const Phylo::Taxon_Labels& labels = Library_Access::Data(data).Labels();
  state_ = std::make_unique<State>(State{&Library_Access::Of(output), labels, layout, std::nullopt, nullptr});
  if (row.Binary) {
    // An output here may be a pipe or a stream; the labels are the caller's.
    if (!row.To_Pipe)
      throw Errors::Constraint_Error("the " + std::string(row.Name) +
                                     " layout is written by the program to a named file (--output=FILE)");
    state_->Binary = Phylo::Binary_Output::Npy_Writer(state_->Out->Text, labels.size(), *row.Binary);
    return;
  }
  state_->Layout = Phylo::Print::Layout_Of(labels, layout, Phylo::Print::Default_Fore, Phylo::Print::Default_Aft,
                                           Phylo::Print::Default_Exp);
  Phylo::Print::Print_Header(state_->Out->Text, state_->Labels, layout);
  state_->Out->Written();
}

Distance_Writer::Distance_Writer(Distance_Writer&&) noexcept = default;
Distance_Writer& Distance_Writer::operator=(Distance_Writer&&) noexcept = default;
Distance_Writer::~Distance_Writer() = default;

void Distance_Writer::Put(const Distance_Rows& rows) {
  State& s = *state_;
  const int taxa = static_cast<int>(s.Labels.size());
  if (s.Finished || rows.First != s.Next || rows.Past < rows.First || rows.Past > taxa || rows.Taxa != taxa ||
      rows.Values.size() != static_cast<std::size_t>(rows.Past - rows.First) * static_cast<std::size_t>(taxa))
    throw Errors::Constraint_Error("index check failed: rows " + std::to_string(rows.First) + " .. " +
                                   std::to_string(rows.Past - 1) + " of " + std::to_string(rows.Taxa) +
                                   " taxa where row " + std::to_string(s.Next) + " of " + std::to_string(taxa) +
                                   " comes next");
  if (s.Binary)
    s.Binary->Put_Rows(static_cast<std::size_t>(rows.First), static_cast<std::size_t>(rows.Past - rows.First),
                       rows.Values);
  else
    for (int row = rows.First; row < rows.Past; ++row)
      Phylo::Print::Put_Row(s.Out->Text, s.Labels, static_cast<std::size_t>(row), rows.Row(row), *s.Layout);
  s.Next = rows.Past;
  s.Out->Written();
}

void Distance_Writer::Finish() {
  State& s = *state_;
  if (s.Finished || s.Next != static_cast<int>(s.Labels.size()))
    throw Errors::Constraint_Error("index check failed: the distance matrix is finished after row " +
                                   std::to_string(s.Next) + " of " + std::to_string(s.Labels.size()));
  s.Finished = true;
  if (s.Binary)
    s.Binary->Finish();
  else
    Phylo::Print::Print_Footer(s.Out->Text, s.Format);
  s.Out->Written();
}

// --- Threads

int Threads() { return Generic::Parallel::Threads(); }

void Set_Threads(int count) {
  if (count < 1 || count > 1024)
    throw Errors::Constraint_Error("range check failed: a number of threads from 1 to 1024, not " +
                                   std::to_string(count));
  Generic::Parallel::Set_Threads(count);
}

} // namespace Karvel::Lib
