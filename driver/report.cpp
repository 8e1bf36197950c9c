#include "driver/report.hpp"

#include <unistd.h>

#include <algorithm>
#include <new>

#include "driver/options_table.hpp"
#include "diagnostics/errors.hpp"
#include "threads/progress.hpp"
#include "diagnostics/warnings.hpp"
#include "api/run.hpp"
#include "karvel/utf8.hpp"

namespace Karvel::Report {

namespace {

using Position::Matrix_Place;
std::vector<std::string> marked_files;

// The input, or the matrix, the run was working on; nothing between inputs.
std::string Context() {
  if (Position::Where().input.empty()) return "";
  // Before the first matrix starts (its first bytes being looked at, a
  // compressed input being opened) there is no matrix to name.
  if (Position::Where().reading || Position::Where().matrix_line == 0) return "while reading " + Position::Where().input;
  return "in " + Matrix_Place();
}

std::string Detail_Of(const Errors::Error& error) {
  if (dynamic_cast<const Errors::Name_Error*>(&error) || dynamic_cast<const Errors::Use_Error*>(&error)) {
    const bool like_an_option = Position::Where().operand.size() > 1 && Position::Where().operand[0] == '-' &&
                                std::find(marked_files.begin(), marked_files.end(), Position::Where().operand) == marked_files.end();
    return error.what() + std::string(like_an_option ? " (not an option of karvel; karvel --help lists them)" : "");
  }
  if (Position::Where().input.empty()) return "";
  // A place (LINE:COL) follows the name directly; other texts (a damaged
  // compressed stream) after a space.
  if (dynamic_cast<const Errors::Data_Error*>(&error))
    return Position::Where().input + (error.what()[0] >= '0' && error.what()[0] <= '9' ? ":" : ": ") + error.what();
  // A failing write concerns the output, whatever was being computed.
  if (dynamic_cast<const Errors::Device_Error*>(&error) && !Position::Where().reading) return "";
  return Context();
}

// The first line as it has always been, then the detail and the hint.
// File names come from the command line as bytes: shown safe like messages.
std::vector<std::string> Report(const std::string& first_line, const std::string& detail) {
  std::vector<std::string> lines{Utf8::Shown(first_line)};
  if (!detail.empty()) lines.push_back("karvel: " + Utf8::Shown(detail));
  if (!Position::Where().hint.empty()) lines.push_back("karvel: " + Utf8::Shown(Position::Where().input + " " + Position::Where().hint));
  return lines;
}

} // namespace

void Note_Marked_Files(const std::vector<std::string>& arguments) {
  marked_files.clear();
  const auto end = std::find(arguments.begin(), arguments.end(), "--");
  if (end == arguments.end()) return;
  for (auto at = end + 1; at != arguments.end(); ++at)
    if (std::find(arguments.begin(), end, *at) == end) marked_files.push_back(*at);
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
