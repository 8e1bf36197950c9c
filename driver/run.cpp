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

#include "karvel/version.hpp"
#include "api/destination.hpp"
#include "driver/karvel.hpp"
#include "driver/options_table.hpp"
#include "driver/report.hpp"
#include "write/temporaries.hpp"
#include "threads/parallel.hpp"
#include "simd/simd.hpp"
#include "diagnostics/warnings.hpp"
#include "read/read_table.hpp"

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

void Take_Environment(std::optional<int> threads) {
  Take_Thread_Setting(threads);
  Take_Simd_Setting();
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
    // Options that only one mode reads would otherwise be dropped without a
    // word, and the matrix computed without them.
    if ((!settings.Mixed_Types.empty() || !settings.Mixed_Weights.empty()) &&
        settings.Datatype != Input_Datatype::MIXED)
      throw Errors::Usage_Error("--types and --weights describe mixed characters (--mixed)");
    if (!settings.Missing_Symbols.empty() && settings.Missing != Phylo::Missing_Rule::PAIRWISE)
      throw Errors::Usage_Error("--missing-symbols names missing cells, which only --missing=pairwise leaves out");
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
      // The program owns its signals (a library's caller keeps its own): a
      // signal removes the temporaries, and a file-size limit is a
      // reported write error wherever the output goes.
      Generic::Temporaries::Remove_On_Signals();
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
