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
#include "threads/parallel.hpp"
#include "simd/simd.hpp"
#include "diagnostics/warnings.hpp"
#include "read/label_checks.hpp"
#include "read/layout_guess.hpp"
#include "read/read_table.hpp"

namespace Karvel {

namespace {

void Put_Line(int fd, const std::string& line) {
  Text_IO::Text_Output err(fd);
  err.Put(line);
  err.New_Line();
  try {
    err.Flush();
  } catch (const Errors::Device_Error&) {
  }
}

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

// What the run was doing when an error came: the second line of a report
// names the input, and the matrix, where the first line alone would leave
// the user guessing.
struct Whereabouts {
  std::string operand; // as given; empty between inputs
  std::string input;   // as messages name it
  bool reading = false;
  long matrix_line = 0; // where the matrix being worked on starts
  std::string hint;     // a guess at the layout of text that did not fit
};
Whereabouts where;

// Operands written only after "--": files by the user's own word, which no
// report should take for a mistyped option.
std::vector<std::string> marked_files;

void Note_Marked_Files(const std::vector<std::string>& arguments) {
  const auto end = std::find(arguments.begin(), arguments.end(), "--");
  if (end == arguments.end()) return;
  for (auto at = end + 1; at != arguments.end(); ++at)
    if (std::find(arguments.begin(), end, *at) == end) marked_files.push_back(*at);
}

std::string Matrix_Place() {
  return "the matrix that starts on line " + std::to_string(where.matrix_line) + " of " + where.input;
}

// The input, or the matrix, the run was working on, for a report's second
// line; nothing between inputs.
std::string Context() {
  if (where.input.empty()) return "";
  // Before the first matrix starts (its first bytes being looked at, a
  // compressed input being opened) there is no matrix to name.
  if (where.reading || where.matrix_line == 0) return "while reading " + where.input;
  return "in " + Matrix_Place();
}

// The second line of the report of an error, or nothing.
std::string Detail_Of(const Errors::Error& error) {
  if (dynamic_cast<const Errors::Name_Error*>(&error) || dynamic_cast<const Errors::Use_Error*>(&error)) {
    const bool like_an_option = where.operand.size() > 1 && where.operand[0] == '-' &&
                                std::find(marked_files.begin(), marked_files.end(), where.operand) == marked_files.end();
    return error.what() + std::string(like_an_option ? " (not an option of karvel; karvel --help lists them)" : "");
  }
  if (where.input.empty()) return "";
  // A place (LINE:COL) follows the name directly; other texts (a damaged
  // compressed stream) after a space.
  if (dynamic_cast<const Errors::Data_Error*>(&error))
    return where.input + (error.what()[0] >= '0' && error.what()[0] <= '9' ? ":" : ": ") + error.what();
  // A failing write concerns the output, whatever was being computed.
  if (dynamic_cast<const Errors::Device_Error*>(&error) && !where.reading) return "";
  return Context();
}

// The first line of a report as it has always been, then the detail and a
// hint, each on a line of its own.
// File names come from the command line as bytes: shown safe like messages.
void Report(const std::string& first_line, const std::string& detail) {
  Put_Line(STDERR_FILENO, Karvel::Utf8::Shown(first_line));
  if (!detail.empty()) Put_Line(STDERR_FILENO, "karvel: " + Karvel::Utf8::Shown(detail));
  if (!where.hint.empty()) Put_Line(STDERR_FILENO, "karvel: " + Karvel::Utf8::Shown(where.input + " " + where.hint));
}

bool Is_Phylip_Like(Phylo::Read::Input_Format format) {
  using Phylo::Read::Input_Format;
  return format == Input_Format::EXTENDED_PHYLIP || format == Input_Format::PHYLIP ||
         format == Input_Format::COMMENTED_PHYLIP || format == Input_Format::PHYLIP_INTERLEAVED ||
         format == Input_Format::EXTENDED_INTERLEAVED;
}

// Blanks before a PHYLIP-like header, passed over as its reader would, so
// that the line of the header is known. Other layouts may give leading
// blanks a meaning (an empty first cell of a table).
void Skip_To_Header(Text_IO::Text_Input& input, Phylo::Read::Input_Format format) {
  if (!Is_Phylip_Like(format)) return;
  for (int c = input.Peek(); c == ' ' || c == '\t' || c == '\r' || c == '\n'; c = input.Peek()) input.Get();
}

// --output's file takes its name only when the run ends, by a rename over
// what was there: were that an input (by another name, a link, or standard
// input redirected from it), the input would be gone, replaced by what was
// made of it. Devices such as /dev/null are written in place, and harm no
// input.
void Refuse_Output_Over_Input(const Run_Settings& s, const std::vector<std::string>& operands) {
  if (!s.Output_File) return;
  std::vector<std::string> written{*s.Output_File};
  if (s.Binary_Output && *s.Binary_Output != Phylo::Binary_Output::Layout::HDF5)
    written.push_back(*s.Output_File + ".labels.txt");
  for (const std::string& file : written) {
    struct stat out {};
    if (stat(file.c_str(), &out) != 0 || !S_ISREG(out.st_mode)) continue;
    for (const std::string& operand : operands) {
      struct stat in {};
      const int got = operand == "-" ? fstat(STDIN_FILENO, &in) : stat(operand.c_str(), &in);
      if (got == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
        throw Errors::Usage_Error("--output=" + *s.Output_File + " would replace the input " +
                                  (operand == "-" ? "on standard input" : operand) +
                                  (file == *s.Output_File ? "" : " with its labels") + "; write to another file");
    }
  }
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
    Skip_To_Header(input, s.Format);
    where.matrix_line = input.Line();
    where.reading = true;
    Phylo::Pipeline::Data data = Phylo::Pipeline::Read(input, s.Format, s.Datatype, s.Table);
    where.reading = false;
    Take_Labels(data, s, Matrix_Place());
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
    where = {};
    where.operand = operand;
    where.input = operand == "-" ? "standard input" : operand;
    std::unique_ptr<Text_IO::Text_Input> input =
        operand == "-" ? Text_IO::Text_Input::Standard_Input() : Text_IO::Text_Input::Open(operand);
    Generic::Progress::Stage reading("reading", input->Known_Bytes_Left().value_or(0), Generic::Progress::Unit::BYTES);
    input->Count_Bytes_In(&reading);
    try {
      Read_Matrices(*input, settings, output, destination);
    } catch (const Errors::Error& e) {
      // The beginning of the text is gone once the input is closed.
      if (const auto* hint = dynamic_cast<const Generic::Hint*>(&e))
        where.hint = hint->Hint_Text();
      else if (dynamic_cast<const Errors::Data_Error*>(&e) && Is_Phylip_Like(settings.Format))
        where.hint = Phylo::Read::Guess_Layout(input->Head());
      throw;
    }
  }
  where = {};
}

int Main(int argc, char** argv) {
  Text_IO::Text_Output out(STDOUT_FILENO);
  const std::string invocation = argc > 0 ? argv[0] : "karvel";
  try {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    Note_Marked_Files(arguments);
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
    Generic::Warnings::Set_Sink([](const std::string& message) {
      Generic::Progress::Print_Above([&] { Put_Line(STDERR_FILENO, "karvel: warning: " + message); });
    });
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
  } catch (const Errors::Usage_Error& e) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, std::string("karvel: ") + e.what());
  } catch (const Errors::Name_Error& e) {
    Flush_Quietly(out);
    Report("Invalid filename.", Detail_Of(e));
  } catch (const Errors::Use_Error& e) {
    Flush_Quietly(out);
    Report("Invalid filename.", Detail_Of(e));
  } catch (const Errors::Data_Error& e) {
    Flush_Quietly(out);
    Report("Wrong file format.", Detail_Of(e));
  } catch (const Errors::Error& e) {
    Flush_Quietly(out);
    Report(std::string("karvel: ") + e.Name() + ": " + e.what(), Detail_Of(e));
  } catch (const std::bad_alloc&) {
    Flush_Quietly(out);
    Report("karvel: STORAGE_ERROR: out of memory", Context());
  } catch (const std::exception& e) {
    // Anything else the system refuses still ends the run with a report,
    // not an abort.
    Flush_Quietly(out);
    Report(std::string("karvel: PROGRAM_ERROR: ") + e.what(), Context());
  }
  return 1;
}

} // namespace Karvel
