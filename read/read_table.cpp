#include "read/read_table.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/errors.hpp"
#include "threads/parallel.hpp"
#include "arrays/row_matrix.hpp"
#include "diagnostics/warnings.hpp"
#include "read/read_number.hpp"
#include "read/words.hpp"

namespace Karvel::Phylo::Read {

namespace {

using Text_IO::Text_Input;

// Below this much text one thread reads faster than several start.
constexpr std::size_t Least_Parallel_Text = std::size_t{256} << 10;
// What an error message shows of a cell.
constexpr std::size_t Longest_Excerpt = 40;

// The whole input, which is one matrix. It stays in the input's buffer, so
// that every row can be found and read in place, on any thread.
std::string_view Whole_Text(Text_Input& in) {
  std::size_t want = std::max<std::size_t>(in.Known_Bytes_Left().value_or(0), std::size_t{1} << 20);
  for (;;) {
    const std::string_view text = in.Window(want);
    if (text.size() < want) return text;
    want = 2 * text.size();
  }
}

bool Is_Blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Texts that mean "no value" in the tables people write; continuous data
// cannot have one, and the message says why.
bool Means_Missing(std::string_view s) {
  auto is = [&](std::string_view word) {
    return s.size() == word.size() && std::equal(s.begin(), s.end(), word.begin(), [](char a, char b) {
             return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
           });
  };
  return s.empty() || is("na") || is("n/a") || is("nan") || is("?") || is("null");
}

// One field as it stands in the text.
struct Cell {
  std::size_t start = 0;    // its first byte (the opening quote of a quoted field)
  std::string_view content; // inside the quotes, doubled quotes still doubled
  bool escaped = false;     // holds doubled quotes
  std::size_t stop = 0;     // the separator or line end after it
  std::size_t next = 0;     // where the next field or row begins
  bool last = false;        // it ends its row
};

std::string Unescaped(const Cell& cell) {
  std::string s(cell.content);
  if (cell.escaped) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < s.size(); ++i, ++out) {
      s[out] = s[i];
      if (s[i] == '"') ++i; // the second of a doubled quote
    }
    s.resize(out);
  }
  return s;
}

enum class Fault { NONE, UNCLOSED_QUOTE, TEXT_AFTER_QUOTE, LINE_FEED_IN_QUOTES };

struct Table {
  std::string_view text;
  char separator = ',';
  bool labels = true; // the first column holds them
  long first_line = 1; // the line the text starts on
  std::vector<std::string> names;
  int nchar = 0;
  // The header cell above the labels, when it names them (R's write.table
  // leaves it out, and then the first header cell names a character).
  std::optional<std::string> label_header;

  // The line and column of an offset (the text starts at a line's first byte).
  std::pair<long, long> Line_Column(std::size_t offset) const {
    const std::string_view before = text.substr(0, offset);
    const long line = first_line + static_cast<long>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t line_start = before.rfind('\n') + 1; // npos + 1 is 0
    return {line, static_cast<long>(offset - line_start + 1)};
  }
  std::string Where(std::size_t offset) const {
    const auto [line, column] = Line_Column(offset);
    return std::to_string(line) + ":" + std::to_string(column);
  }
  template <class Error>
  Error At(std::size_t offset, Error error) const {
    const auto [line, column] = Line_Column(offset);
    return Generic::Placed(std::move(error), line, column);
  }

  [[noreturn]] void Wrong(std::size_t offset, const std::string& expected, const std::string& found) const {
    throw At(offset, Errors::Data_Error(Where(offset) + ": expected " + expected + ", found " + found));
  }

  static std::string Quoted(std::string_view s) {
    if (s.size() > Longest_Excerpt)
      return "'" + std::string(s.substr(0, Karvel::Utf8::Cut(s, Longest_Excerpt))) + "...'";
    return "'" + std::string(s) + "'";
  }

  // The field at `pos`. With `line_feeds_in_quotes` false, a quoted field
  // that holds a line feed is a fault: the parallel reader takes rows to be
  // lines, and such a field says they are not.
  Fault Scan(std::size_t pos, bool line_feeds_in_quotes, Cell& cell) const {
    const char* const p = text.data();
    const std::size_t n = text.size();
    cell.start = pos;
    cell.escaped = false;
    std::size_t after;
    if (pos < n && p[pos] == '"') {
      std::size_t i = pos + 1;
      for (;;) {
        const void* quote = std::memchr(p + i, '"', n - i);
        if (!quote) return Fault::UNCLOSED_QUOTE;
        const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(quote) - p);
        if (k + 1 < n && p[k + 1] == '"') {
          cell.escaped = true;
          i = k + 2;
          continue;
        }
        cell.content = text.substr(pos + 1, k - pos - 1);
        after = k + 1;
        break;
      }
      if (!line_feeds_in_quotes && cell.content.find('\n') != std::string_view::npos)
        return Fault::LINE_FEED_IN_QUOTES;
      if (after < n && p[after] == '\r' && (after + 1 == n || p[after + 1] == '\n')) {
        cell.stop = after;
        cell.last = true;
        cell.next = std::min(after + 2, n);
        return Fault::NONE;
      }
      if (after < n && p[after] != separator && p[after] != '\n') {
        cell.stop = after;
        return Fault::TEXT_AFTER_QUOTE;
      }
    } else {
      after = pos;
      while (after < n && p[after] != separator && p[after] != '\n') ++after;
      std::size_t end = after;
      if ((after == n || p[after] == '\n') && end > pos && p[end - 1] == '\r') --end;
      cell.content = text.substr(pos, end - pos);
    }
    cell.stop = after;
    cell.last = after == n || p[after] == '\n';
    cell.next = std::min(after + 1, n);
    return Fault::NONE;
  }

  // Scans a field; a fault is raised as the error it is, or, when not
  // `reporting`, only makes the result false.
  bool Field(std::size_t pos, bool reporting, Cell& cell) const {
    const Fault fault = Scan(pos, reporting, cell);
    if (fault == Fault::NONE) return true;
    if (!reporting) return false;
    if (fault == Fault::UNCLOSED_QUOTE)
      Wrong(pos, "the closing quote of the field that starts here", "the end of the input");
    Wrong(cell.stop, "a separator or the end of the line after the closing quote",
          Quoted(text.substr(cell.stop, 1)));
  }

  // Passes over lines of nothing but spaces, tabs and carriage returns.
  std::size_t Skip_Blank_Lines(std::size_t pos, std::size_t end) const {
    for (;;) {
      std::size_t j = pos;
      while (j < end && Is_Blank(text[j])) ++j;
      if (j == end) return end;
      if (text[j] != '\n') return pos;
      pos = j + 1;
    }
  }

  // The header row at `pos`: the names of the characters after the first
  // cell, which stands above the labels (without labels, every cell names a
  // character). R's write.table leaves that cell out: when the first row has
  // one cell more than the header and the first header cell is not empty,
  // it names a character too. Returns where the rows begin.
  std::size_t Read_Header(std::size_t pos) {
    Cell cell;
    Field(pos, true, cell);
    const std::size_t header_start = pos;
    const std::string corner = Unescaped(cell);
    if (!labels) names.push_back(corner);
    while (!cell.last) {
      Field(cell.next, true, cell);
      names.push_back(Unescaped(cell));
    }
    const std::size_t rows_begin = cell.next;
    if (labels) {
      label_header = corner;
      std::size_t cells = 0;
      for (std::size_t at = Skip_Blank_Lines(rows_begin, text.size()); at < text.size(); at = cell.next) {
        if (Scan(at, true, cell) != Fault::NONE) break;
        ++cells;
        if (cell.last) {
          if (cells == names.size() + 2 && !corner.empty()) {
            names.insert(names.begin(), corner);
            label_header.reset();
          }
          break;
        }
      }
    }
    // One cell and no rows of two (write.table's one character) is no
    // table: another layout, or the wrong separator.
    if (names.empty())
      Wrong(header_start, std::string("a header row of cells separated by ") + Separator_Name(),
            "a line without one (is this the right --from?)");
    nchar = static_cast<int>(names.size());
    return rows_begin;
  }

  const char* Separator_Name() const {
    return separator == ',' ? "','" : separator == ';' ? "';'" : "tabs";
  }

  // The common field, a plain value right before a separator or a line end,
  // read in one pass: convert.Fast(text from pos, value) tells how long the
  // value is (0: not one it reads that way). False leaves it to Field.
  template <class T, class Convert>
  bool Fast_Field(std::size_t pos, Cell& cell, T& value, Convert& convert) const {
    const std::size_t length = convert.Fast(text.substr(pos), value);
    if (length == 0) return false;
    const std::size_t after = pos + length, n = text.size();
    if (after == n || text[after] == '\n') {
      cell.last = true;
      cell.next = std::min(after + 1, n);
    } else if (text[after] == separator) {
      cell.last = false;
      cell.next = after + 1;
    } else if (text[after] == '\r' && after + 1 < n && text[after + 1] == '\n') {
      cell.last = true;
      cell.next = after + 2;
    } else {
      return false;
    }
    cell.start = pos;
    cell.stop = after;
    return true;
  }

  // Reads the row at `pos` into `label` and `row` (nchar values), each cell
  // through convert(cell, value) -> error text or null. Returns where the
  // next row begins, or nothing when the row is faulty and not `reporting`.
  template <class T, class Convert>
  std::optional<std::size_t> Read_Row(std::size_t pos, bool reporting, std::string& label, T* row,
                                      Convert& convert) const {
    Cell cell;
    cell.next = pos;
    if (labels) {
      if (!Field(pos, reporting, cell)) return std::nullopt;
      label = Unescaped(cell);
    }
    for (int c = 0; c < nchar; ++c) {
      if ((labels || c > 0) && cell.last) {
        if (!reporting) return std::nullopt;
        Wrong(cell.stop,
              "a value for character '" + names[static_cast<std::size_t>(c)] + "' (" + std::to_string(c + 1) +
                  " of " + std::to_string(nchar) + ") of taxon '" + label + "'",
              "the end of the row");
      }
      if (Fast_Field(cell.next, cell, row[c], convert)) continue;
      if (!Field(cell.next, reporting, cell)) return std::nullopt;
      const char* problem = cell.escaped ? convert(std::string_view(Unescaped(cell)), row[c])
                                         : convert(cell.content, row[c]);
      if (problem) {
        if (!reporting) return std::nullopt;
        const std::string value = Unescaped(cell);
        std::string message = Where(cell.start) + ": expected " + problem + " for character '" +
                              names[static_cast<std::size_t>(c)] + "' of taxon '" + label + "', found " +
                              Quoted(value);
        if (std::strcmp(problem, "a number") == 0 && Means_Missing(Trimmed(value))) {
          message += " (continuous data have no missing values; the formulas -f and -n take negative values as "
                     "missing, so write them as -1 for those)";
          throw Generic::With_Hint<Errors::Data_Error>(At(cell.start, Errors::Data_Error(message)),
                                                       Missing_Value_Hint);
        }
        throw At(cell.start, Errors::Data_Error(message));
      }
    }
    if (!cell.last) {
      if (!reporting) return std::nullopt;
      Cell extra;
      Field(cell.next, true, extra);
      Wrong(extra.start,
            "the end of the row of taxon '" + label + "' after its " + std::to_string(nchar) + " values",
            Quoted(Unescaped(extra)));
    }
    return cell.next;
  }
};

// A stretch of lines read by one thread, straight into rows made for it.
struct Piece {
  std::size_t begin = 0, end = 0;
  std::size_t first_row = 0; // of the rows made ahead
  std::size_t rows = 0;      // rows made for it: one per line
  std::vector<std::string> labels;
  bool good = false;
};

// Reads the rows of [begin, text end) when every row stands on one line,
// big texts on several threads, one piece of lines each, into rows made
// ahead for every line; false (and the matrix as it was) when some piece
// found a row it could not read, which the reporting reader then reads
// again on one thread.
template <class Matrix_Type, class Convert>
bool Read_Rows_By_Lines(const Table& table, std::size_t begin, Taxon_Labels& labels, Matrix_Type& matrix,
                        Convert& convert, std::optional<Generic::Populating>& populating) {
  using T = typename Matrix_Type::Element;
  const std::string_view text = table.text;
  const int threads = text.size() - begin < Least_Parallel_Text ? 1 : Generic::Parallel::Threads();
  std::vector<Piece> pieces;
  std::size_t rows = 0;
  for (std::size_t start = begin; start < text.size();) {
    const auto left = static_cast<std::size_t>(threads) - pieces.size();
    std::size_t end = text.size();
    if (left > 1) {
      const std::size_t nl = text.find('\n', start + (text.size() - start) / left);
      if (nl != std::string_view::npos) end = nl + 1;
    }
    Piece piece;
    piece.begin = start;
    piece.end = end;
    piece.first_row = rows;
    const std::string_view part = text.substr(start, end - start);
    // A row takes a line and at least a separator per value, which bounds
    // the rows made ahead, however many blank lines there are.
    std::size_t lines = part.back() != '\n';
    for (const char* at = part.data(), *const stop = part.data() + part.size();
         (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(stop - at)))) != nullptr; ++at)
      ++lines;
    piece.rows = std::min(lines, part.size() / (static_cast<std::size_t>(table.nchar) + 1) + 1);
    rows += piece.rows;
    pieces.push_back(std::move(piece));
    start = end;
  }
  if (pieces.empty()) return true;
  const auto nchar = static_cast<std::size_t>(table.nchar);
  const int old_rows = matrix.Rows();
  // The page-backing helper works on the reserved memory: it must stop
  // before the matrix grows out of it.
  if ((matrix.Values() + rows * nchar) * sizeof(T) > matrix.Reserved_Bytes()) populating.reset();
  T* const block = matrix.Add_Rows(rows, table.nchar);
  Generic::Parallel::Run(static_cast<int>(pieces.size()), [&](int w) {
    Piece& piece = pieces[static_cast<std::size_t>(w)];
    std::size_t pos = piece.begin;
    for (;;) {
      pos = table.Skip_Blank_Lines(pos, piece.end);
      if (pos == piece.end) break;
      if (piece.labels.size() == piece.rows) return;
      std::string label;
      const std::optional<std::size_t> next =
          table.Read_Row(pos, false, label, block + (piece.first_row + piece.labels.size()) * nchar, convert);
      if (!next) return;
      piece.labels.push_back(std::move(label));
      pos = *next;
    }
    piece.good = true;
  });
  if (!std::all_of(pieces.begin(), pieces.end(), [](const Piece& piece) { return piece.good; })) {
    matrix.Keep_Rows(old_rows);
    return false;
  }
  // Blank lines had rows made for them: close the gaps.
  std::size_t taken = 0;
  for (Piece& piece : pieces) {
    // A matrix without characters has no block at all.
    if (piece.first_row != taken && nchar > 0)
      std::memmove(block + taken * nchar, block + piece.first_row * nchar, piece.labels.size() * nchar * sizeof(T));
    taken += piece.labels.size();
    for (std::string& label : piece.labels) labels.push_back(std::move(label));
  }
  matrix.Keep_Rows(old_rows + static_cast<int>(taken));
  if (populating) populating->Reached(matrix.Values() * sizeof(T));
  return true;
}

// How much text the rows are read from at a time; a longer line asks for a
// bigger window.
constexpr std::size_t Window_Size = std::size_t{8} << 20;

// Where the header row begins: after a UTF-8 byte-order mark (spreadsheets
// write one) and blank lines.
std::size_t Header_Start(const Table& table) {
  const std::size_t start = table.text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  return table.Skip_Blank_Lines(start, table.text.size());
}

// Whether the header row ends inside the window, not at its end.
bool Holds_Header(const Table& table) {
  Cell cell;
  std::size_t pos = Header_Start(table);
  do {
    if (table.Scan(pos, true, cell) != Fault::NONE || cell.stop == table.text.size()) return false;
    pos = cell.next;
  } while (!cell.last);
  return true;
}

// How many values the rows after the cursor will hold, as far as can be
// told before reading them: the lines of the first window, scaled to the
// size of the input where it is known, times the characters. One
// allocation then serves a big matrix, and the helper that backs its pages
// ahead backs no more than will be filled. The rest of the input bounds
// the estimate.
std::size_t Values_Expected(Text_Input& in, int nchar, std::size_t value_bytes) {
  const std::optional<std::size_t> left = in.Expected_Bytes_Left();
  if (!left || *left == 0) return 0;
  const std::string_view window = in.Window(std::min(*left, Window_Size));
  std::size_t lines = 1;
  for (const char *at = window.data(), *const stop = window.data() + window.size();
       (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(stop - at)))) != nullptr; ++at)
    ++lines;
  if (window.size() < *left) {
    // The rest at the density of the window, with a sixteenth to spare.
    const double scale = static_cast<double>(*left) / static_cast<double>(window.size());
    lines = static_cast<std::size_t>(static_cast<double>(lines) * scale * 17 / 16);
  }
  return std::min(lines * static_cast<std::size_t>(nchar), *left / value_bytes + 1);
}

// Whether `text` reads as a number the way the table's values do.
bool Is_Number(std::string_view text, bool decimal_comma) {
  std::string copy(Trimmed(text));
  if (decimal_comma) {
    if (copy.find('.') != std::string::npos) return false;
    std::replace(copy.begin(), copy.end(), ',', '.');
  }
  const Real_Prefix number = Scan_Real_Prefix(copy);
  return !copy.empty() && number.length == copy.size();
}

// A first column of numbers under a header of its own is more likely a
// character than the labels (a table written without row names): said,
// and read as labels all the same, as the layout has it.
void Warn_If_Labels_Are_Numbers(const Text_Input& in, long header_line, const std::string& header,
                                const Taxon_Labels& labels, Table_Options options) {
  for (const std::string& label : labels)
    if (!Is_Number(label, options.decimal_comma)) return;
  Generic::Warnings::Issue((in.Name().empty() ? "" : in.Name() + ":") + std::to_string(header_line) +
                           ":1: the first column, '" + header +
                           "', holds only numbers and is read as the labels of the taxa; if it is a "
                           "character (a table written without row names), read it with --labels=none");
}

// The header, then the rows, window by window: each window is cut after its
// last line feed and read by lines (on several threads when big). Text
// that is not read that way (a quoted line feed, an error) is read, from
// the start of its window to the end of the input, by the reporting reader.
template <class Matrix_Type, class Convert>
std::unique_ptr<Data_Record<Matrix_Type>> Read_Table(Text_Input& in, Input_Format format, Table_Options options,
                                                     std::size_t value_bytes, Convert convert) {
  Table table;
  table.separator = Separator_Of(format);
  table.labels = options.labels;
  table.first_line = in.Line();
  for (std::size_t want = Window_Size;; want *= 2) {
    table.text = in.Window(want);
    if (table.text.size() < want || Holds_Header(table)) break;
  }
  std::size_t pos = table.Read_Header(Header_Start(table));
  const long header_line = table.first_line;
  in.Advance(pos);

  Taxon_Labels labels;
  Matrix_Type matrix;
  matrix.Reserve_Values(Values_Expected(in, table.nchar, value_bytes));
  std::optional<Generic::Populating> populating;
  populating.emplace(matrix.Reserved_Memory(), matrix.Reserved_Bytes());
  bool by_lines = true;
  for (std::size_t want = Window_Size; by_lines;) {
    const std::string_view window = in.Window(want);
    if (window.empty()) break;
    const bool complete = window.size() < want;
    const std::size_t usable = complete ? window.size() : window.rfind('\n') + 1; // npos + 1 is 0
    if (usable == 0) {
      want *= 2;
      continue;
    }
    table.text = window.substr(0, usable);
    table.first_line = in.Line();
    by_lines = Read_Rows_By_Lines(table, 0, labels, matrix, convert, populating);
    if (by_lines) in.Advance(usable);
    want = Window_Size;
  }
  populating.reset();
  if (!by_lines) {
    table.first_line = in.Line();
    table.text = Whole_Text(in);
    for (pos = 0;;) {
      pos = table.Skip_Blank_Lines(pos, table.text.size());
      if (pos == table.text.size()) break;
      labels.emplace_back(table.labels ? "" : std::to_string(labels.size() + 1));
      pos = *table.Read_Row(pos, true, labels.back(), matrix.Add_Rows(1, table.nchar), convert);
    }
    in.Advance(table.text.size());
  }
  if (labels.empty()) {
    table.first_line = in.Line();
    table.text = {};
    table.Wrong(0, "a row for each taxon after the header", "the end of the input");
  }
  if (!table.labels)
    for (std::size_t t = 0; t < labels.size(); ++t) labels[t] = std::to_string(t + 1);
  else if (table.label_header && !table.label_header->empty())
    Warn_If_Labels_Are_Numbers(in, header_line, *table.label_header, labels, options);
  auto data = std::make_unique<Data_Record<Matrix_Type>>(std::move(labels), std::move(matrix));
  data->Character_Names = std::move(table.names);
  return data;
}

} // namespace

bool Is_Table(Input_Format format) {
  return format == Input_Format::CSV || format == Input_Format::TSV || format == Input_Format::CSV2;
}

char Separator_Of(Input_Format format) {
  return format == Input_Format::TSV ? '\t' : format == Input_Format::CSV2 ? ';' : ',';
}

namespace {

struct Numbers {
  bool decimal_comma = false;
  bool keep_missing = false;
  // As if more text followed: the scanner is quicker so, and a number
  // that runs to the very end of the input goes the general way. With
  // decimal commas, only a number without a fraction is read here.
  std::size_t Fast(std::string_view text, double& value) const {
    using namespace Number_Text;
    if (decimal_comma) {
      std::size_t k = 0;
      while (k < text.size() && ((text[k] >= '0' && text[k] <= '9') || text[k] == '-' || text[k] == '+')) ++k;
      if (k < text.size() && (text[k] == ',' || text[k] == '.' || text[k] == 'e' || text[k] == 'E')) return 0;
    }
    std::size_t length = 0;
    bool exact = false;
    if (Scan_Real(text.data(), text.size(), false, length, exact, value) != Scan::NUMBER) return 0;
    if (!exact && Convert_Real(text.data(), text.data() + length, value) != Conversion::OK) return 0;
    return length;
  }
  const char* operator()(std::string_view cell, double& value) const {
    std::string_view text = Trimmed(cell);
    std::string point; // the text with its decimal comma made a point
    if (decimal_comma) {
      if (text.find('.') != std::string_view::npos) return "a number with a decimal comma";
      point.assign(text);
      std::replace(point.begin(), point.end(), ',', '.');
      text = point;
    }
    if (keep_missing && Means_Missing(text)) {
      value = std::numeric_limits<double>::quiet_NaN();
      return nullptr;
    }
    const Real_Prefix number = Scan_Real_Prefix(text);
    if (number.length != text.size() || text.empty()) return "a number";
    if (number.too_large) return "a number within the range of a double";
    value = number.value;
    return nullptr;
  }
};

struct Symbols {
  char separator;
  std::size_t Fast(std::string_view text, char& symbol) const {
    if (text.empty()) return 0;
    const char c = text[0];
    if (c == separator || c == '\n' || c == '\r' || c == '"' || c == ' ' || c == '\t') return 0;
    symbol = c;
    return 1;
  }
  const char* operator()(std::string_view cell, char& symbol) const {
    const std::string_view text = Trimmed(cell);
    if (text.size() == 1) {
      symbol = text[0];
      return nullptr;
    }
    if (Means_Missing(text)) {
      symbol = '?';
      return nullptr;
    }
    return "one symbol";
  }
};

struct Cells {
  const std::function<double(std::string_view)>* code;
  std::size_t Fast(std::string_view, double&) const { return 0; }
  const char* operator()(std::string_view cell, double& value) const {
    const std::string_view text = Trimmed(cell);
    value = Means_Missing(text) ? std::numeric_limits<double>::quiet_NaN() : (*code)(text);
    return nullptr;
  }
};

} // namespace

Real_Data_Access Get_Table_Numbers(Text_IO::Text_Input& file, Input_Format format, Table_Options options) {
  options.decimal_comma = options.decimal_comma || format == Input_Format::CSV2;
  return Read_Table<Real_Matrix>(file, format, options, 2,
                                 Numbers{options.decimal_comma, options.missing == Missing_Rule::PAIRWISE});
}

Disc_Data_Access Get_Table_Symbols(Text_IO::Text_Input& file, Input_Format format, Table_Options options) {
  return Read_Table<Disc_Matrix>(file, format, options, 1, Symbols{Separator_Of(format)});
}

Real_Data_Access Get_Table_Cells(Text_IO::Text_Input& file, Input_Format format, Table_Options options,
                                 const std::function<double(std::string_view)>& code) {
  return Read_Table<Real_Matrix>(file, format, options, 2, Cells{&code});
}

} // namespace Karvel::Phylo::Read
