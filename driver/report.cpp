#include "driver/report.hpp"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "driver/options_table.hpp"
#include "generic/errors.hpp"
#include "generic/progress.hpp"
#include "generic/warnings.hpp"
#include "io/layout_guess.hpp"
#include "karvel/utf8.hpp"

namespace Karvel::Report {

namespace {

Whereabouts where;
std::vector<std::string> marked_files;

bool Is_Phylip_Like(Phylo::Read::Input_Format format) {
  using Phylo::Read::Input_Format;
  return format == Input_Format::EXTENDED_PHYLIP || format == Input_Format::PHYLIP ||
         format == Input_Format::COMMENTED_PHYLIP || format == Input_Format::PHYLIP_INTERLEAVED ||
         format == Input_Format::EXTENDED_INTERLEAVED;
}

// The input, or the matrix, the run was working on; nothing between inputs.
std::string Context() {
  if (where.input.empty()) return "";
  // Before the first matrix starts (its first bytes being looked at, a
  // compressed input being opened) there is no matrix to name.
  if (where.reading || where.matrix_line == 0) return "while reading " + where.input;
  return "in " + Matrix_Place();
}

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

// The first line as it has always been, then the detail and the hint.
// File names come from the command line as bytes: shown safe like messages.
std::vector<std::string> Report(const std::string& first_line, const std::string& detail) {
  std::vector<std::string> lines{Utf8::Shown(first_line)};
  if (!detail.empty()) lines.push_back("karvel: " + Utf8::Shown(detail));
  if (!where.hint.empty()) lines.push_back("karvel: " + Utf8::Shown(where.input + " " + where.hint));
  return lines;
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
  return "the matrix that starts on line " + std::to_string(where.matrix_line) + " of " + where.input;
}

void Note_Marked_Files(const std::vector<std::string>& arguments) {
  marked_files.clear();
  const auto end = std::find(arguments.begin(), arguments.end(), "--");
  if (end == arguments.end()) return;
  for (auto at = end + 1; at != arguments.end(); ++at)
    if (std::find(arguments.begin(), end, *at) == end) marked_files.push_back(*at);
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

std::vector<std::string> Lines(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const Errors::Usage_Error& e) {
    return {std::string("karvel: ") + e.what()};
  } catch (const Errors::Name_Error& e) {
    return Report("Invalid filename.", Detail_Of(e));
  } catch (const Errors::Use_Error& e) {
    return Report("Invalid filename.", Detail_Of(e));
  } catch (const Errors::Data_Error& e) {
    return Report("Wrong file format.", Detail_Of(e));
  } catch (const Errors::Error& e) {
    return Report(std::string("karvel: ") + e.Name() + ": " + e.what(), Detail_Of(e));
  } catch (const std::bad_alloc&) {
    return Report("karvel: STORAGE_ERROR: out of memory", Context());
  } catch (const std::exception& e) {
    // Anything else the system refuses still ends the run with a report,
    // not an abort.
    return Report(std::string("karvel: PROGRAM_ERROR: ") + e.what(), Context());
  }
}

void Put_Lines(const std::vector<std::string>& lines) {
  Text_IO::Text_Output err(STDERR_FILENO);
  for (const std::string& line : lines) {
    err.Put(line);
    err.New_Line();
  }
  try {
    err.Flush();
  } catch (const Errors::Device_Error&) {
  }
}

void Warn_On_Standard_Error() {
  Generic::Warnings::Set_Sink([](const std::string& message) {
    Generic::Progress::Print_Above([&] { Put_Lines({"karvel: warning: " + message}); });
  });
}

} // namespace Karvel::Report
