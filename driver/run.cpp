#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

#include "driver/destination.hpp"
#include "driver/karvel.hpp"
#include "driver/options_table.hpp"
#include "driver/report.hpp"
#include "generic/parallel.hpp"
#include "generic/simd.hpp"
#include "generic/warnings.hpp"
#include "io/label_checks.hpp"
#include "io/read_table.hpp"

namespace Karvel {

namespace {

// What was printed for earlier matrices goes out before the error line.
void Flush_Quietly(Text_IO::Text_Output& out) {
  try {
    out.Flush();
  } catch (const Errors::Device_Error&) {
  }
}

// --threads, else KARVEL_THREADS where set, says how many threads the heavy
// stages use.
void Take_Thread_Setting(std::optional<int> option) {
  if (option) {
    Generic::Parallel::Set_Threads(*option);
    return;
  }
  const char* text = std::getenv("KARVEL_THREADS");
  if (!text) return;
  const std::string_view value(text);
  int count = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), count);
  if (ec != std::errc() || end != value.data() + value.size() || count < 1 || count > 1024)
    throw Errors::Constraint_Error("KARVEL_THREADS must be a whole number from 1 to 1024, not \"" +
                                   std::string(value) + "\"");
  Generic::Parallel::Set_Threads(count);
}

// KARVEL_SIMD, where set, names the instruction-set path every kernel takes
// instead of the widest this processor runs.
void Take_Simd_Setting() {
  const char* text = std::getenv("KARVEL_SIMD");
  if (!text) return;
  const std::string value(text);
  const std::optional<Generic::Simd::Path> path = Generic::Simd::Parse(value);
  if (!path)
    throw Errors::Constraint_Error("KARVEL_SIMD=" + value + ": not a known instruction set (known: " +
                                   Generic::Simd::Names(false) + ")");
  if (!Generic::Simd::Available(*path))
    throw Errors::Constraint_Error("KARVEL_SIMD=" + value + ": this processor cannot run it (it runs " +
                                   Generic::Simd::Names(true) + ")");
  Generic::Simd::Use(*path);
}

} // namespace

void Take_Labels(Phylo::Pipeline::Data& data, const Run_Settings& s, const std::string& matrix) {
  namespace Checks = Phylo::Label_Checks;
  if (s.Latin1_Labels)
    Checks::Convert_From_Latin1(data.Labels());
  else
    Checks::Warn_Of_Non_Utf8(data.Labels(), matrix);
  Checks::Warn_Of_Duplicates(data.Labels(), matrix);
  Phylo::Pipeline::Warn_Of_Unknown_Binary_Symbols(data, matrix);
  const Phylo::Print::Output_Format style = Phylo::Print::Label_Format(s.Output);
  if (style == Phylo::Print::Output_Format::PHYLIP) Checks::Warn_Of_Phylip_Cut_Collisions(data.Labels());
  // hdf5 stores any text; the npy labels file is one label a line.
  const bool bare = s.Binary_Output ? *s.Binary_Output != Phylo::Binary_Output::Layout::HDF5
                                    : Phylo::Print::Writes_Controls_As_Underscores(style);
  if (bare) Checks::Warn_Of_Controls(data.Labels());
}

void Take_Environment(std::optional<int> threads) {
  Take_Thread_Setting(threads);
  Take_Simd_Setting();
}

// One pipeline for every datatype: read, transform, then the data or their
// distances. The -A .. -Z transformations apply to continuous characters
// only and are ignored with the others.
void Read_Matrices(Text_IO::Text_Input& input, const Run_Settings& s, Text_IO::Text_Output& output,
                   Destination* destination) {
  const Phylo::Pipeline::Formula formula{s.Binary_Formula, s.Discrete_Formula, s.Real_Formula,
                                         s.Implied_Transformation, s.Undefined_As_NaN};
  input.Skip_Byte_Order_Mark();
  while (!input.At_End_Of_Input()) {
    Report::Skip_To_Header(input, s.Format);
    Report::Where().matrix_line = input.Line();
    Report::Where().reading = true;
    Phylo::Pipeline::Data data = Phylo::Pipeline::Read(input, s.Format, s.Datatype, s.Table);
    Report::Where().reading = false;
    Take_Labels(data, s, Report::Matrix_Place());
    if (s.Transformation && s.Datatype == Input_Datatype::CONTINUOUS)
      Phylo::Pipeline::Transform(data, *s.Transformation);
    if (s.Print_Data) {
      Phylo::Pipeline::Put_Data(output, data, s.Output, s.Aft);
      continue;
    }
    const int taxa = data.Taxa();
    const bool whole = !s.Rows && !s.Part && (taxa < 2 || Phylo::Pipeline::Fits(taxa, s.Memory));
    if (whole) {
      const Phylo::Squared_Access distances = Phylo::Pipeline::Distances(std::move(data), formula);
      if (s.Binary_Output) {
        if (!destination) throw Errors::Constraint_Error("binary layouts are written only by the program");
        destination->Put_Binary(*distances);
      } else {
        Phylo::Pipeline::Put_Distances(output, *distances, s.Output, s.Aft);
      }
      continue;
    }
    const Phylo::Pipeline::Row_Blocks blocks(std::move(data), formula);
    if (s.Binary_Output) {
      if (!destination) throw Errors::Constraint_Error("binary layouts are written only by the program");
      destination->Put_Binary(blocks, s.Memory);
      continue;
    }
    Phylo::Pipeline::Row_Range rows{0, taxa};
    if (s.Rows) rows = *s.Rows;
    if (s.Part) rows = Phylo::Pipeline::Part_Rows(taxa, Phylo::Pipeline::Part_Of(s.Output), s.Part->first - 1, s.Part->second);
    Phylo::Pipeline::Put_Distance_Rows(output, blocks, s.Output, rows, s.Memory, s.Aft);
  }
}

void Traverse_Files(const std::vector<std::string>& operands, const Run_Settings& settings,
                    Text_IO::Text_Output& output, Destination* destination) {
  for (const std::string& operand : operands) {
    Report::Enter_Input(operand);
    std::unique_ptr<Text_IO::Text_Input> input =
        operand == "-" ? Text_IO::Text_Input::Standard_Input() : Text_IO::Text_Input::Open(operand);
    Generic::Progress::Stage reading("reading", input->Known_Bytes_Left().value_or(0), Generic::Progress::Unit::BYTES);
    input->Count_Bytes_In(&reading);
    try {
      Read_Matrices(*input, settings, output, destination);
    } catch (const Errors::Error& e) {
      // The beginning of the text is gone once the input is closed.
      Report::Note_Hint(e, settings.Format, input->Head());
      throw;
    }
  }
  Report::Leave_Input();
}

int Main(int argc, char** argv) {
  Text_IO::Text_Output out(STDOUT_FILENO);
  const std::string invocation = argc > 0 ? argv[0] : "karvel";
  try {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    Report::Note_Marked_Files(arguments);
    const Run_Settings settings = Parse_Arguments(arguments);
    if (settings.Action == Run_Action::HELP) {
      Put_Help(out, invocation);
      out.Flush();
      return 0;
    }
    if (settings.Action == Run_Action::VERSION) {
      out.Put("karvel " KARVEL_VERSION "\n");
      out.Flush();
      return 0;
    }
    if (settings.Print_Data && (settings.Rows || settings.Part))
      throw Errors::Usage_Error("--rows and --part choose rows of distance matrices, and -W writes the data");
    if (settings.Binary_Output && (settings.Rows || settings.Part))
      throw Errors::Usage_Error("--rows and --part write text layouts");
    // A comma that separates cells cannot also mark decimals.
    if (settings.Table.decimal_comma && settings.Format != Phylo::Read::Input_Format::TSV &&
        settings.Format != Phylo::Read::Input_Format::CSV2)
      throw Errors::Usage_Error("--decimal=comma reads tab-separated tables (--from=tsv); a table that separates "
                                "its cells with ';' is --from=csv2");
    if (!settings.Table.labels && !Phylo::Read::Is_Table(settings.Format))
      throw Errors::Usage_Error("--labels=none reads tables (--from=csv, tsv or csv2)");
    Take_Thread_Setting(settings.Threads);
    Take_Simd_Setting();
    // Warnings may come from any thread; they go straight to standard error
    // and never touch the output buffer.
    Report::Warn_On_Standard_Error();
    if (arguments.empty()) {
      Text_IO::Text_Output err(STDERR_FILENO);
      Put_Usage(err, invocation);
      Flush_Quietly(err);
      return 1;
    }
    Refuse_Output_Over_Input(settings, arguments);
    {
      // Errors leave --output's file as it was: the destination removes its
      // temporary unless the run gets to Commit.
      Destination destination(settings, out);
      // Ends, and leaves the terminal clean, before any error is reported.
      const Generic::Progress::Display progress(settings.Progress);
      Traverse_Files(arguments, settings, destination.Text(), &destination);
      destination.Commit();
      out.Flush();
    }
    return 0;
  } catch (...) {
    // What earlier matrices printed goes out before the report.
    Flush_Quietly(out);
    Report::Put_Lines(Report::Lines(std::current_exception()));
  }
  return 1;
}

} // namespace Karvel
