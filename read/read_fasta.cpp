#include "read/read_fasta.hpp"

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/errors.hpp"
#include "read/words.hpp"

namespace Karvel::Phylo::Read {

namespace {

using Text_IO::Text_Input;


std::string Place(long line, std::size_t column) { return std::to_string(line) + ":" + std::to_string(column); }

// A Data_Error at LINE:COLUMN, which both its message and its fields give.
[[noreturn]] void Fail_At(long line, std::size_t column, const std::string& what) {
  throw Generic::Placed(Errors::Data_Error(Place(line, column) + what), line, static_cast<long>(column));
}

// Takes the next line without its line feed; false when the input is
// exhausted. `ended` tells whether a line feed closed it.
bool Next_Line(Text_Input& in, std::string& line, bool& ended) {
  line.clear();
  std::string_view w = in.Window(1);
  if (w.empty()) return false;
  ended = false;
  for (;;) {
    const std::size_t nl = w.find('\n');
    if (nl != std::string_view::npos) {
      line.append(w.substr(0, nl));
      in.Advance(nl + 1);
      ended = true;
      return true;
    }
    line.append(w);
    in.Advance(w.size());
    w = in.Window(1);
    if (w.empty()) return true;
  }
}

// A sequence read so far: where it started and the place of its first
// symbol beyond the length the first sequence set.
struct Sequence {
  std::string Label;
  std::vector<char> Symbols;
  long Extra_Line = 0;
  std::size_t Extra_Column = 0;
};

// Text that does not start with '>' is refused from its first window, before
// a line of it is taken whole (a binary file may have no line feed at all).
void Refuse_Bad_Start(Text_Input& in) {
  const std::string_view w = in.Window(std::size_t{1} << 16);
  std::size_t i = 0;
  while (i < w.size() && Is_Blank(w[i])) ++i;
  if (i == w.size() || w[i] == '>') return;
  const std::size_t line_start = w.rfind('\n', i) + 1; // npos + 1 is 0
  const long line = in.Line() + static_cast<long>(std::count(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(i), '\n'));
  const std::size_t column = line_start == 0 ? static_cast<std::size_t>(in.Column()) + i : i - line_start + 1;
  std::size_t end = i;
  while (end < w.size() && end - i < 16 && !Is_Blank(w[end])) ++end;
  Fail_At(line, column,
 ": expected '>' and the label of a sequence, found '" +
                           std::string(w.substr(i, end - i)) + "'");
}

} // namespace

Disc_Data_Access Get_Fasta(Text_IO::Text_Input& file) {
  Taxon_Labels labels;
  Disc_Matrix matrix;
  std::size_t length = 0; // that of the first sequence
  Sequence current;
  bool open = false; // a '>' line was read and its sequence is not yet stored
  long line_number = 0;
  std::string line;
  bool ended = true;
  std::size_t last_length = 0; // of the last line read

  // The sequence that ends where `line`:`column` stands (the next '>' line or
  // the end of the input).
  auto close = [&](long line, std::size_t column) {
    if (!open) return;
    if (labels.empty()) {
      length = current.Symbols.size();
    } else if (current.Symbols.size() != length) {
      const bool longer = current.Symbols.size() > length;
      Fail_At(longer ? current.Extra_Line : line, longer ? current.Extra_Column : column,
                               ": expected " + std::to_string(length) + " characters in the sequence of '" +
                               current.Label + "' like '" + labels.front() + "' before it, found " +
                               std::to_string(current.Symbols.size()));
    }
    labels.push_back(std::move(current.Label));
    matrix.Append_Row(std::span<const char>(current.Symbols.data(), current.Symbols.size()));
    current = Sequence();
    open = false;
  };

  file.Skip_Byte_Order_Mark();
  Refuse_Bad_Start(file);
  while (Next_Line(file, line, ended)) {
    ++line_number;
    last_length = line.size();
    std::size_t i = 0;
    while (i < line.size() && Is_Blank(line[i])) ++i;
    if (i == line.size()) continue;
    if (line[i] == '>') {
      close(line_number, i + 1);
      std::size_t start = i + 1;
      while (start < line.size() && Is_Blank(line[start])) ++start;
      std::size_t end = start;
      while (end < line.size() && !Is_Blank(line[end])) ++end;
      if (end == start)
        Fail_At(line_number, start + 1,
                                 ": expected the label of the sequence after '>', found the end of the line");
      current.Label = line.substr(start, end - start);
      if (!labels.empty()) current.Symbols.reserve(length);
      open = true;
      continue;
    }
    if (!open) {
      std::size_t end = i;
      while (end < line.size() && end - i < 16 && !Is_Blank(line[end])) ++end;
      Fail_At(line_number, i + 1,
 ": expected '>' and the label of a sequence, found '" +
                               line.substr(i, end - i) + "'");
    }
    // Runs of symbols between blanks go in whole.
    while (i < line.size()) {
      std::size_t end = i;
      while (end < line.size() && !Is_Blank(line[end])) ++end;
      const std::size_t had = current.Symbols.size();
      if (!labels.empty() && had <= length && length < had + (end - i)) {
        current.Extra_Line = line_number;
        current.Extra_Column = i + (length - had) + 1;
      }
      current.Symbols.insert(current.Symbols.end(), line.begin() + static_cast<std::ptrdiff_t>(i),
                             line.begin() + static_cast<std::ptrdiff_t>(end));
      i = end;
      while (i < line.size() && Is_Blank(line[i])) ++i;
    }
  }
  // Where the input ends: after the last line feed, or after the last line.
  const long end_line = ended ? line_number + 1 : line_number;
  const std::size_t end_column = ended ? 1 : last_length + 1;
  if (!open && labels.empty())
    Fail_At(end_line, end_column,
                             ": expected '>' and the label of a sequence, found the end of the input");
  close(end_line, end_column);
  return std::make_unique<Disc_Data>(std::move(labels), std::move(matrix));
}

void Refuse_Fasta_Numbers() {
  throw Errors::Data_Error("1:1: FASTA sequences are symbols, not numbers: read them with -D (discrete) or -B "
                           "(binary)");
}

} // namespace Karvel::Phylo::Read
