#include <charconv>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

#include "driver/destination.hpp"
#include "driver/karvel.hpp"
#include "driver/options_table.hpp"
#include "generic/parallel.hpp"
#include "generic/simd.hpp"
#include "generic/warnings.hpp"

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

} // namespace

// One pipeline for every datatype: read, transform, then the data or their
// distances. The -A .. -Z transformations apply to continuous characters
// only and are ignored with the others.
void Read_Matrices(Text_IO::Text_Input& input, const Run_Settings& s, Text_IO::Text_Output& output,
                   Destination* destination) {
  const Phylo::Pipeline::Formula formula{s.Binary_Formula, s.Discrete_Formula, s.Real_Formula,
                                         s.Implied_Transformation, s.Undefined_As_NaN};
  while (!input.At_End_Of_Input()) {
    Phylo::Pipeline::Data data = Phylo::Pipeline::Read(input, s.Format, s.Datatype);
    if (s.Transformation && s.Datatype == Input_Datatype::CONTINUOUS)
      Phylo::Pipeline::Transform(data, *s.Transformation);
    if (s.Print_Data) {
      Phylo::Pipeline::Put_Data(output, data, s.Output);
      continue;
    }
    const Phylo::Squared_Access distances = Phylo::Pipeline::Distances(std::move(data), formula);
    if (s.Binary_Output) {
      if (!destination) throw Errors::Constraint_Error("binary layouts are written only by the program");
      destination->Put_Binary(*distances);
    } else {
      Phylo::Pipeline::Put_Distances(output, *distances, s.Output);
    }
  }
}

void Traverse_Files(const std::vector<std::string>& operands, const Run_Settings& settings,
                    Text_IO::Text_Output& output, Destination* destination) {
  for (const std::string& operand : operands) {
    std::unique_ptr<Text_IO::Text_Input> input =
        operand == "-" ? Text_IO::Text_Input::Standard_Input() : Text_IO::Text_Input::Open(operand);
    Generic::Progress::Stage reading("reading", input->Known_Bytes_Left().value_or(0), Generic::Progress::Unit::BYTES);
    input->Count_Bytes_In(&reading);
    Read_Matrices(*input, settings, output, destination);
  }
}

int Main(int argc, char** argv) {
  Text_IO::Text_Output out(STDOUT_FILENO);
  const std::string invocation = argc > 0 ? argv[0] : "karvel";
  try {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
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
  } catch (const Errors::Name_Error&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "Invalid filename.");
  } catch (const Errors::Use_Error&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "Invalid filename.");
  } catch (const Errors::Data_Error&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "Wrong file format.");
  } catch (const Errors::Error& e) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, std::string("karvel: ") + e.Name() + ": " + e.what());
  } catch (const std::bad_alloc&) {
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, "karvel: STORAGE_ERROR: out of memory");
  } catch (const std::exception& e) {
    // Anything else the system refuses still ends the run with a report,
    // not an abort.
    Flush_Quietly(out);
    Put_Line(STDERR_FILENO, std::string("karvel: PROGRAM_ERROR: ") + e.what());
  }
  return 1;
}

} // namespace Karvel
