#include "api/run.hpp"

#include "api/destination.hpp"
#include "diagnostics/errors.hpp"
#include "read/label_checks.hpp"
#include "read/layout_guess.hpp"

namespace Karvel {

namespace Position {

namespace {

// The programs run on one thread; the library's readers may run on several.
thread_local Whereabouts where;

bool Is_Phylip_Like(Phylo::Read::Input_Format format) {
  using Phylo::Read::Input_Format;
  return format == Input_Format::EXTENDED_PHYLIP || format == Input_Format::PHYLIP ||
         format == Input_Format::COMMENTED_PHYLIP || format == Input_Format::PHYLIP_INTERLEAVED ||
         format == Input_Format::EXTENDED_INTERLEAVED;
}

} // namespace

Whereabouts& Where() { return where; }

void Enter_Input(const std::string& operand) {
  where = {};
  where.operand = operand;
  where.input = operand == "-" ? "standard input" : operand;
}

void Leave_Input() { where = {}; }

std::string Matrix_Place() {
  // The library reads text that has no name.
  return "the matrix that starts on line " + std::to_string(where.matrix_line) +
         (where.input.empty() ? "" : " of " + where.input);
}

void Skip_To_Header(Text_IO::Text_Input& input, Phylo::Read::Input_Format format) {
  if (!Is_Phylip_Like(format)) return;
  for (int c = input.Peek(); c == ' ' || c == '\t' || c == '\r' || c == '\n'; c = input.Peek()) input.Get();
}

void Note_Hint(const std::exception& error, Phylo::Read::Input_Format format, std::string_view head) {
  if (const auto* hint = dynamic_cast<const Generic::Hint*>(&error))
    where.hint = hint->Hint_Text();
  else if (dynamic_cast<const Errors::Data_Error*>(&error) && Is_Phylip_Like(format))
    where.hint = Phylo::Read::Guess_Layout(head);
}

} // namespace Position

void Take_Read_Labels(Phylo::Pipeline::Data& data, const Run_Settings& s, const std::string& matrix) {
  namespace Checks = Phylo::Label_Checks;
  if (s.Latin1_Labels)
    Checks::Convert_From_Latin1(data.Labels());
  else
    Checks::Warn_Of_Non_Utf8(data.Labels(), matrix);
  Checks::Warn_Of_Duplicates(data.Labels(), matrix);
  Phylo::Pipeline::Warn_Of_Unknown_Binary_Symbols(data, matrix);
}

void Check_Labels_For_Output(const Phylo::Pipeline::Data& data, const Run_Settings& s) {
  namespace Checks = Phylo::Label_Checks;
  const Phylo::Print::Output_Format style = Phylo::Print::Label_Format(s.Output);
  if (Phylo::Print::Cuts_Labels(style)) Checks::Warn_Of_Phylip_Cut_Collisions(data.Labels());
  // hdf5 stores any text; the npy labels file is one label a line.
  const bool bare = s.Binary_Output ? Phylo::Print::Layout_Row(*s.Binary_Output).Labels_Beside
                                    : Phylo::Print::Writes_Controls_As_Underscores(style);
  if (bare) Checks::Warn_Of_Controls(data.Labels());
}

std::optional<Phylo::Real_Chars::Transformation> Run_Transformation(const Run_Settings& s) {
  if (!s.Transformation) return std::nullopt;
  return Phylo::Real_Chars::With_Ties(*s.Transformation, s.Ties);
}

Phylo::Pipeline::Formula Run_Formula(const Run_Settings& s) {
  std::optional<Phylo::Real_Chars::Transformation> implied;
  if (s.Implied_Transformation) implied = Phylo::Real_Chars::With_Ties(*s.Implied_Transformation, s.Ties);
  return {s.Binary_Formula, s.Discrete_Formula, s.Real_Formula, implied, s.Undefined_As_NaN, s.Missing,
          s.Missing_Symbols, s.Mixed_Types, s.Mixed_Weights};
}

Phylo::Pipeline::Data Read_Next_Matrix(Text_IO::Text_Input& input, const Run_Settings& s) {
  Position::Skip_To_Header(input, s.Format);
  Position::Where().matrix_line = input.Line();
  Position::Where().reading = true;
  Phylo::Read::Table_Options options = s.Table;
  options.missing = s.Missing;
  Phylo::Pipeline::Data data = Phylo::Pipeline::Read(input, s.Format, s.Datatype, options);
  Position::Where().reading = false;
  Take_Read_Labels(data, s, Position::Matrix_Place());
  return data;
}

// One pipeline for every datatype: read, transform, then the data or their
// distances. The -A .. -Z transformations apply to continuous characters
// only and are ignored with the others.
void Read_Matrices(Text_IO::Text_Input& input, const Run_Settings& s, Text_IO::Text_Output& output,
                   Destination* destination) {
  const Phylo::Pipeline::Formula formula = Run_Formula(s);
  const std::optional<Phylo::Real_Chars::Transformation> transformation = Run_Transformation(s);
  input.Skip_Byte_Order_Mark();
  while (!input.At_End_Of_Input()) {
    Phylo::Pipeline::Data data = Read_Next_Matrix(input, s);
    Check_Labels_For_Output(data, s);
    if (transformation && s.Datatype == Input_Datatype::CONTINUOUS)
      Phylo::Pipeline::Transform(data, *transformation);
    if (s.Print_Data) {
      Phylo::Pipeline::Put_Data(output, data, s.Output, s.Aft);
      continue;
    }
    Put_Matrix_Distances(std::move(data), formula, s, output, destination);
  }
}

template <class Data>
void Put_Matrix_Distances(Data&& data, const Phylo::Pipeline::Formula& formula, const Run_Settings& s,
                          Text_IO::Text_Output& output, Destination* destination) {
  const int taxa = data.Taxa();
  const bool whole = !s.Rows && !s.Part && (taxa < 2 || Phylo::Pipeline::Fits(taxa, s.Memory));
  if (s.Binary_Output && !destination)
    throw Errors::Constraint_Error("binary layouts are written only through a destination");
  if (whole) {
    const Phylo::Squared_Access distances = Phylo::Pipeline::Distances(std::forward<Data>(data), formula);
    if (s.Binary_Output)
      destination->Put_Binary(*distances);
    else
      Phylo::Pipeline::Put_Distances(output, *distances, s.Output, s.Aft);
    return;
  }
  const Phylo::Pipeline::Row_Blocks blocks(std::forward<Data>(data), formula);
  if (s.Binary_Output) {
    destination->Put_Binary(blocks, s.Memory);
    return;
  }
  Phylo::Pipeline::Row_Range rows{0, taxa};
  if (s.Rows) rows = *s.Rows;
  if (s.Part)
    rows = Phylo::Pipeline::Part_Rows(taxa, Phylo::Pipeline::Part_Of(s.Output), s.Part->first - 1, s.Part->second);
  // Values kept for later rows go beside the output, on the disk that has
  // room for it.
  const std::string scratch = s.Output_File ? Phylo::Pipeline::Folder_Of(*s.Output_File) : std::string();
  Phylo::Pipeline::Put_Distance_Rows(output, blocks, s.Output, rows, s.Memory, s.Aft, scratch);
}

template void Put_Matrix_Distances(Phylo::Pipeline::Data&&, const Phylo::Pipeline::Formula&, const Run_Settings&,
                                   Text_IO::Text_Output&, Destination*);
template void Put_Matrix_Distances(const Phylo::Pipeline::Data&, const Phylo::Pipeline::Formula&, const Run_Settings&,
                                   Text_IO::Text_Output&, Destination*);

void Traverse_Files(const std::vector<std::string>& operands, const Run_Settings& settings,
                    Text_IO::Text_Output& output, Destination* destination) {
  for (const std::string& operand : operands) {
    Position::Enter_Input(operand);
    std::unique_ptr<Text_IO::Text_Input> input =
        operand == "-" ? Text_IO::Text_Input::Standard_Input() : Text_IO::Text_Input::Open(operand);
    Generic::Progress::Stage reading("reading", input->Known_Bytes_Left().value_or(0), Generic::Progress::Unit::BYTES);
    input->Count_Bytes_In(&reading);
    try {
      Read_Matrices(*input, settings, output, destination);
    } catch (const Errors::Error& e) {
      // The beginning of the text is gone once the input is closed.
      Position::Note_Hint(e, settings.Format, input->Head());
      throw;
    }
  }
  Position::Leave_Input();
}

} // namespace Karvel
