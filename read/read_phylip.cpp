#include "read/read_phylip.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include "diagnostics/errors.hpp"
#include "threads/parallel.hpp"
#include "diagnostics/warnings.hpp"
#include "read/read_number.hpp"
#include "read/words.hpp"
#include "karvel/utf8.hpp"

namespace Karvel::Phylo::Read {

namespace {

using Text_IO::Text_Input;
using TextUtils::Character_Set;

// What a header promises is reserved only up to these amounts: a damaged or
// truncated file may promise far more than it holds, and memory should grow
// with the data actually read, not with the promise.
constexpr std::size_t Max_Reserved_Taxa = std::size_t{1} << 16;
constexpr std::size_t Max_Reserved_Values = std::size_t{1} << 20;

// How much text to look at when a number starts; numbers are short, and a
// longer one simply asks for a bigger window.
constexpr std::size_t Number_Window = 64;

// A plain byte table: the scanning loops test every byte of the input, and a
// bool array is cheaper to index than a bitset.
using Byte_Table = std::array<bool, 256>;

Byte_Table Table_Of(const Character_Set& set) {
  Byte_Table table{};
  for (std::size_t c = 0; c < table.size(); ++c) table[c] = set[c];
  return table;
}

const Byte_Table& Whitespace_Table() {
  static const Byte_Table table = Table_Of(Whitespace());
  return table;
}

// Blanks before a number. Carriage returns count too, so that files written
// with CR LF line ends read like any other.
constexpr bool Is_Number_Blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
using Number_Text::Is_Digit;
using Number_Text::Scan;
using Number_Text::Scan_Real;
using Number_Text::Conversion;
using Number_Text::Convert_Real;

// Where the reader is, for the messages of the errors it raises.
struct Place {
  long header_line = 0; // 0 outside a matrix (a caller reading pieces)
  int ntax = 0;
  int nchar = 0;
  int taxon = 0; // counted from 0

  std::string Inside() const {
    return header_line > 0 ? " inside the matrix that starts on line " + std::to_string(header_line) : "";
  }
  std::string Taxon() const {
    return header_line > 0 ? "taxon " + std::to_string(taxon + 1) + " of " + std::to_string(ntax) : "the taxon";
  }
};

[[noreturn]] void Input_Ends(const Text_Input& in, const Place& place, const std::string& what) {
  throw Generic::Placed(
      Errors::End_Error("the input ends on line " + std::to_string(in.Line()) + place.Inside() + ": " + what),
      in.Line());
}

// The length of the UTF-8 sequence that starts at p[0..n), or 0 when the
// bytes there are not one.
std::size_t Utf8_Length(const unsigned char* p, std::size_t n) {
  const unsigned char c = p[0];
  const std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (length == 0 || length > n) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((p[k] & 0xC0) != 0x80) return 0;
  return length;
}

// What a message says it found at the cursor: the text up to the next
// blank, at most 16 bytes, quoted; bytes that would not show as themselves
// (stray bytes of another encoding) by their code.
std::string Found(Text_Input& in) {
  constexpr std::size_t Longest = 16;
  const std::string_view w = in.Window(Longest + 3);
  const auto* p = reinterpret_cast<const unsigned char*>(w.data());
  const std::size_t n = std::min(w.size(), Longest);
  std::string text;
  std::size_t k = 0;
  while (k < n && !TextUtils::Is_In(w[k], Whitespace())) {
    if (p[k] < 0x80) {
      text += w[k++];
    } else if (const std::size_t length = Utf8_Length(p + k, w.size() - k); length > 0) {
      if (k + length > n) break; // a letter is not cut in two
      text.append(w.substr(k, length));
      k += length;
    } else {
      constexpr char Hex[] = "0123456789ABCDEF";
      text += {'\\', 'x', Hex[p[k] >> 4], Hex[p[k] & 15]};
      ++k;
    }
  }
  if (k > 0) return "'" + text + "'";
  if (w.empty()) return "the end of the input";
  if (w[0] == '\n' || w[0] == '\r') return "the end of the line";
  return "a byte with code " + std::to_string(p[0]);
}

// `expected` says what should stand at the cursor.
[[noreturn]] void Wrong_Text(Text_Input& in, const std::string& expected) {
  throw Generic::Placed(Errors::Data_Error(std::to_string(in.Line()) + ":" + std::to_string(in.Column()) +
                                           ": expected " + expected + ", found " + Found(in)),
                        in.Line(), in.Column());
}

// Skips the blanks before a number; false when the input ends first.
bool Skip_Number_Blanks(Text_Input& in) {
  for (;;) {
    const std::string_view w = in.Window(1);
    if (w.empty()) return false;
    std::size_t i = 0;
    while (i < w.size() && Is_Number_Blank(w[i])) ++i;
    in.Advance(i);
    if (i < w.size()) return true;
  }
}

// An optionally signed decimal integer in the 32-bit range, at the cursor
// (the blanks before it already skipped). `what` names it in messages.
int Parse_Integer(Text_Input& in, const std::string& what) {
  constexpr std::int64_t Beyond = (std::int64_t{1} << 31) + 1; // saturation point
  std::size_t k = 0;
  int c = in.Peek(0);
  const bool negative = c == '-';
  if (c == '+' || c == '-') c = in.Peek(++k);
  if (!Is_Digit(c)) Wrong_Text(in, what);
  std::int64_t magnitude = 0;
  for (; Is_Digit(c); c = in.Peek(++k)) magnitude = std::min(magnitude * 10 + (c - '0'), Beyond);
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  if (magnitude > limit) Wrong_Text(in, what + " within the 32-bit integer range");
  in.Advance(k);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

// The number scanner (Scan_Real, Convert_Real) is in read/read_number.hpp,
// shared with the table reader.

// Why a text is not taken as a number.
enum class Bad_Number : std::uint8_t { NOT_A_NUMBER, TOO_LARGE, DECIMAL_COMMA, MISSING_VALUE };

// What a message expects instead of such a text; `of` says which value.
std::string Expected_Number(Bad_Number why, const std::string& of) {
  switch (why) {
  case Bad_Number::TOO_LARGE:
    return "a number within the range of a double" + of;
  case Bad_Number::DECIMAL_COMMA:
    return "a number (decimal point, not comma)" + of;
  case Bad_Number::MISSING_VALUE:
    return "a number" + of +
           " (missing values are not allowed in continuous data; -f and -n treat negative values as missing)";
  case Bad_Number::NOT_A_NUMBER:
    break;
  }
  return "a number" + of;
}

// The length of the missing-value word at p[0..n), up to a blank or the
// end of the window; 0 when the text there is not one.
std::size_t Missing_Value_Length(const char* p, std::size_t n) {
  std::size_t length = 0;
  while (length < n && length < 4 && !Is_Number_Blank(p[length])) ++length;
  if (length < n && !Is_Number_Blank(p[length])) return 0;
  return Is_Missing_Value_Word(std::string_view(p, length)) ? length : 0;
}

// What becomes of a text that is not a number: refused, kept as a missing
// value (the reader goes on at `at`), or cut by the window's end before it
// can be judged (the reader looks at more text first).
enum class Verdict : std::uint8_t { REFUSED, KEPT_MISSING, CUT };

// Where a text that is not a number starts, which value it is (from 0) and
// why it is not taken.
struct Not_Taken {
  std::size_t at;
  int value;
  Bad_Number why;
  Verdict verdict = Verdict::REFUSED;
};

// Judges the text at p[i] that is not a number, value k of those being read.
// Out of line: the loop that reads the numbers is the reader's hottest.
[[gnu::noinline, gnu::cold]] Not_Taken Judge_Not_A_Number(const char* p, std::size_t n, std::size_t i, int k,
                                                          bool complete, bool keep_missing) {
  // A missing value's word is at most four bytes: one the window cuts is
  // judged whole, once more text is in it.
  if (!complete && n - i <= 4) return {i, k, Bad_Number::NOT_A_NUMBER, Verdict::CUT};
  // "1,5": the 1 was taken as the value before; the message points at the
  // whole text and names that value.
  if (p[i] == ',' && k > 0 && i > 0 && Is_Digit(p[i - 1]) && i + 1 < n && Is_Digit(p[i + 1])) {
    std::size_t start = i;
    while (start > 0 && !Is_Number_Blank(p[start - 1])) --start;
    return {start, k - 1, Bad_Number::DECIMAL_COMMA};
  }
  const std::size_t word = Missing_Value_Length(p + i, n - i);
  if (word == 0) return {i, k, Bad_Number::NOT_A_NUMBER};
  if (keep_missing) return {i + word, k, Bad_Number::MISSING_VALUE, Verdict::KEPT_MISSING};
  return {i, k, Bad_Number::MISSING_VALUE};
}

// A refused number's message; a missing value's says how to keep it.
[[noreturn]] [[gnu::cold]] void Wrong_Number(Text_Input& in, Bad_Number why, const std::string& of) {
  if (why != Bad_Number::MISSING_VALUE) Wrong_Text(in, Expected_Number(why, of));
  try {
    Wrong_Text(in, Expected_Number(why, of));
  } catch (const Errors::Data_Error& e) {
    throw Generic::With_Hint<Errors::Data_Error>(e, Missing_Value_Hint);
  }
}

// Reads `count` real numbers and hands each to `store`. The numbers are
// scanned in place in the input's window. When the input ends before all
// are read, `ends(k)` is called with the number read so far; when a text is
// not taken as a number, `wrong(k, why)` is called with the cursor on that
// text (value k, from 0). Both must throw. With Keep_Missing, a missing
// value's word is stored as a quiet NaN instead. (A template argument: as
// an argument the rule took a register in the loop and cost 5% more
// instructions on complete input.)
template <bool Keep_Missing, class Store, class Ends, class Wrong>
void Read_Reals(Text_Input& in, int count, Store store, Ends ends, Wrong wrong) {
  int k = 0;
  std::size_t want = Number_Window;
  while (k < count) {
    const std::string_view w = in.Window(want);
    const bool complete = w.size() < want;
    const char* p = w.data();
    const std::size_t n = w.size();
    std::size_t i = 0;
    while (k < count) {
      while (i < n && Is_Number_Blank(p[i])) ++i;
      if (i == n) {
        if (complete) {
          in.Advance(i);
          ends(k);
        }
        break;
      }
      std::size_t length = 0;
      bool exact = false;
      double value = 0.0;
      const Scan scan = Scan_Real(p + i, n - i, complete, length, exact, value);
      if (scan == Scan::NEED_MORE) break;
      if (scan == Scan::NOT_A_NUMBER) {
        const Not_Taken bad = Judge_Not_A_Number(p, n, i, k, complete, Keep_Missing);
        if (bad.verdict == Verdict::CUT) break;
        if (!Keep_Missing || bad.verdict != Verdict::KEPT_MISSING) {
          in.Advance(bad.at);
          wrong(bad.value, bad.why);
        }
        value = std::numeric_limits<double>::quiet_NaN();
        length = bad.at - i;
        exact = true;
      }
      if (!exact && Convert_Real(p + i, p + i + length, value) == Conversion::TOO_LARGE) {
        in.Advance(i);
        wrong(k, Bad_Number::TOO_LARGE);
      }
      store(value);
      i += length;
      ++k;
    }
    in.Advance(i);
    // What is left of the window did not hold a whole number: look at more.
    want = std::max(Number_Window, 2 * (n - i) + 1);
  }
}

// The rows go to a matrix or, on the parallel path, straight into a row
// already made for them (Row_Slot).
template <bool Keep_Missing, class Row_Sink>
void Read_Real_Row(Text_Input& in, Row_Sink& matrix, const Place& place) {
  Read_Reals<Keep_Missing>(
      in, place.nchar, [&](double value) { matrix.Push(value); },
      [&](int k) {
        Input_Ends(in, place,
                   place.Taxon() + " has " + std::to_string(k) + " of " + std::to_string(place.nchar) + " values");
      },
      [&](int k, Bad_Number why) {
        Wrong_Number(in, why, " for value " + std::to_string(k + 1) + " of " + place.Taxon());
      });
  matrix.Close_Row();
}

// The end of the run of values that starts at p[i], at most at p[stop].
// Eight bytes are judged at a time: runs of values are long in real data.
// The eight tests are or-ed as integers, not with ||, so that the eight
// bytes cost one branch rather than eight.
std::size_t Run_End(const unsigned char* p, std::size_t i, std::size_t stop, const Byte_Table& skip) {
  auto skipped = [&](std::size_t k) { return static_cast<unsigned>(skip[p[k]]); };
  while (i + 8 <= stop && !(skipped(i) | skipped(i + 1) | skipped(i + 2) | skipped(i + 3) | skipped(i + 4) |
                            skipped(i + 5) | skipped(i + 6) | skipped(i + 7)))
    i += 8;
  while (i < stop && !skip[p[i]]) ++i;
  return i;
}

// Reads the next nchar characters that are neither in `skip` nor line feeds
// (the table marks both) into a new row of the matrix.
template <class Row_Sink>
void Read_Discrete_Row(Text_Input& in, const Byte_Table& skip, Row_Sink& matrix, std::vector<char>& row,
                   const Place& place) {
  const auto need = static_cast<std::size_t>(place.nchar);
  if (need == 0) {
    matrix.Close_Row(); // nothing may be consumed: the rest of the line decides what follows
    return;
  }
  // Usually the values stand in one run inside the window: the row is then
  // copied straight from the input.
  {
    const std::string_view w = in.Window(1);
    const auto* p = reinterpret_cast<const unsigned char*>(w.data());
    std::size_t i = 0;
    while (i < w.size() && skip[p[i]]) ++i;
    const std::size_t stop = i + std::min(w.size() - i, need);
    const std::size_t j = Run_End(p, i, stop, skip);
    if (j - i == need) {
      matrix.Append_Row(std::span<const char>(w.data() + i, need));
      in.Advance(j);
      return;
    }
  }
  row.clear();
  while (row.size() < need) {
    const std::string_view w = in.Window(1);
    if (w.empty())
      Input_Ends(in, place,
                 place.Taxon() + " has " + std::to_string(row.size()) + " of " + std::to_string(need) + " values");
    const auto* p = reinterpret_cast<const unsigned char*>(w.data());
    const std::size_t n = w.size();
    std::size_t i = 0;
    while (i < n && row.size() < need) {
      while (i < n && skip[p[i]]) ++i;
      const std::size_t stop = i + std::min(n - i, need - row.size());
      const std::size_t j = Run_End(p, i, stop, skip);
      row.insert(row.end(), w.data() + i, w.data() + j);
      i = j;
    }
    in.Advance(i);
  }
  matrix.Append_Row(row);
}

enum class Item { LABEL, COMMENT };

std::string Missing(Item item, const Place& place) {
  if (item == Item::LABEL) return "the label of " + place.Taxon() + " is missing";
  return "the comment word after the label of " + place.Taxon() + " is missing";
}

// The word rule: leading whitespace and line feeds are passed over, then
// characters are taken up to a line feed or the end of input (left in the
// stream) or whitespace (consumed and dropped).
void Read_Word(Text_Input& in, std::string& word, Item item, const Place& place) {
  const Byte_Table& stop = Whitespace_Table();
  int c;
  do {
    c = in.Get();
    if (c < 0) Input_Ends(in, place, Missing(item, place));
  } while (c == '\n' || stop[static_cast<std::size_t>(c)]);
  word.push_back(static_cast<char>(c));
  for (;;) {
    c = in.Peek();
    if (c < 0 || c == '\n') return;
    in.Get();
    if (stop[static_cast<std::size_t>(c)]) return;
    word.push_back(static_cast<char>(c));
  }
}

void Trim_Whitespace(std::string& word) {
  const Byte_Table& ws = Whitespace_Table();
  auto is_ws = [&](char c) { return ws[static_cast<unsigned char>(c)]; };
  std::size_t last = word.size();
  while (last > 0 && is_ws(word[last - 1])) --last;
  word.erase(last);
  std::size_t first = 0;
  while (first < word.size() && is_ws(word[first])) ++first;
  word.erase(0, first);
}

// When the field ends inside a UTF-8 letter, takes the rest of it: its last
// bytes are part of the label, not the first values.
void Take_Whole_Letter(Text_Input& in, std::string& label) {
  std::size_t first = label.size();
  while (first > 0 && label.size() - first < 3 && (static_cast<unsigned char>(label[first - 1]) & 0xC0) == 0x80)
    --first;
  if (first == 0) return;
  --first; // the byte that may start the letter
  std::string letter = label.substr(first);
  const std::size_t have = letter.size();
  for (std::size_t k = 0; k < 3 && in.Peek(k) >= 0 && (in.Peek(k) & 0xC0) == 0x80; ++k)
    letter.push_back(static_cast<char>(in.Peek(k)));
  const std::size_t length = Karvel::Utf8::Length(letter, 0);
  if (length <= have) return;
  label.append(letter, have, length - have);
  in.Advance(length - have);
}

// Takes `count` characters, line feeds neither taken nor counted, then trims
// Whitespace() from both ends of the whole label.
void Read_Fixed_Label(Text_Input& in, int count, std::string& label, const Place& place) {
  for (int k = 0; k < count; ++k) {
    int c;
    do c = in.Get();
    while (c == '\n');
    if (c < 0) {
      if (k == 0) Input_Ends(in, place, Missing(Item::LABEL, place));
      Input_Ends(in, place,
                 "the label of " + place.Taxon() + " has only " + std::to_string(k) + " of its " +
                     std::to_string(count) + " characters");
    }
    label.push_back(static_cast<char>(c));
  }
  Take_Whole_Letter(in, label);
  Trim_Whitespace(label);
}

// The label field of the fixed-width layout.
constexpr int Phylip_Label_Width = 10;

void Read_Label(Text_Input& in, Input_Format format, std::string& label, const Place& place) {
  switch (format) {
  case Input_Format::EXTENDED_PHYLIP:
    Read_Word(in, label, Item::LABEL, place);
    return;
  case Input_Format::COMMENTED_PHYLIP: {
    Read_Word(in, label, Item::LABEL, place);
    std::string comment;
    Read_Word(in, comment, Item::COMMENT, place);
    return;
  }
  case Input_Format::PHYLIP:
    Read_Fixed_Label(in, Phylip_Label_Width, label, place);
    return;
  case Input_Format::PHYLIP_INTERLEAVED:
  case Input_Format::EXTENDED_INTERLEAVED:
  case Input_Format::CSV:
  case Input_Format::TSV:
  case Input_Format::CSV2:
  case Input_Format::NEXUS:
  case Input_Format::FASTA:
    break; // never here: Get hands these to their own readers
  }
}

// Reads the two counts of a header and the rest of its line into `place`.
void Read_Header(Text_Input& in, Place& place) {
  if (!Skip_Number_Blanks(in)) Input_Ends(in, place, "a matrix header was expected");
  const long line = in.Line();
  const int ntax = Parse_Integer(in, "the number of taxa");
  place.header_line = line;
  if (ntax < 0)
    throw Errors::Constraint_Error("the header on line " + std::to_string(line) + " gives " + std::to_string(ntax) +
                                   " taxa; a count cannot be negative");
  if (!Skip_Number_Blanks(in)) Input_Ends(in, place, "the header has no number of characters");
  const int nchar = Parse_Integer(in, "the number of characters after the number of taxa");
  if (nchar < 0)
    throw Errors::Constraint_Error("the header on line " + std::to_string(line) + " gives " +
                                   std::to_string(nchar) + " characters; a count cannot be negative");
  if (!in.At_End_Of_Line()) in.Skip_Line();
  if (ntax == 0)
    throw Errors::Constraint_Error("the header on line " + std::to_string(line) +
                                   " gives 0 taxa; a matrix needs at least one");
  place.ntax = ntax;
  place.nchar = nchar;
}

// Text after the last value of a record, on its line: the layouts leave it
// unread, but a value too many, a label with a blank or a row longer than
// the header says all end up there, so a matrix that has any says so once,
// at its first place (records in the order of the file, however many
// threads read them).
struct Ignored_Text {
  std::size_t records = 0;
  long line = 0;
  long column = 0;
  int taxon = 0; // counted from 0
  std::string label;
  std::string excerpt;
};

// How much of such a text the warning quotes, in bytes.
constexpr std::size_t Longest_Ignored_Excerpt = 20;

// The text at the cursor up to the end of its line, without the blanks
// that end it, cut to Longest_Ignored_Excerpt bytes.
std::string Ignored_Excerpt(Text_Input& in) {
  const std::string_view w = in.Window(Longest_Ignored_Excerpt + 12);
  std::string_view text = w.substr(0, std::min(w.find('\n'), w.size()));
  while (!text.empty() && Whitespace_Table()[static_cast<unsigned char>(text.back())]) text.remove_suffix(1);
  if (text.size() <= Longest_Ignored_Excerpt) return std::string(text);
  return std::string(text.substr(0, Karvel::Utf8::Cut(text, Longest_Ignored_Excerpt))) + "\xE2\x80\xA6";
}

// Consumes the rest of the line after the values of taxon `taxon` (the
// cursor is not on its line feed), the line feed too, noting in `ignored`
// whether it holds more than blanks. `line` and `column` place the cursor
// for the note when not the input's own count (a piece of a window).
void Pass_Rest_Of_Line(Text_Input& in, const std::string& label, int taxon, Ignored_Text& ignored, long line = 0,
                       long column = 0) {
  int c = in.Peek();
  while (c >= 0 && c != '\n' && Whitespace_Table()[static_cast<unsigned char>(c)]) {
    in.Get();
    c = in.Peek();
  }
  if (c >= 0 && c != '\n' && ignored.records++ == 0) {
    ignored.line = line > 0 ? line : in.Line();
    ignored.column = column > 0 ? column : in.Column();
    ignored.taxon = taxon;
    ignored.label = label;
    ignored.excerpt = Ignored_Excerpt(in);
  }
  in.Skip_Line();
}

// The one warning of a matrix's ignored text, if it has any.
void Warn_Of_Ignored(const Ignored_Text& ignored, const Text_Input& in, const Place& place) {
  if (ignored.records == 0) return;
  const std::string where = std::to_string(ignored.line) + ":" + std::to_string(ignored.column);
  const std::string others =
      ignored.records > 1 ? " (" + std::to_string(ignored.records) + " records of the matrix have such text)" : "";
  Generic::Warnings::Issue((in.Name().empty() ? where : in.Name() + ":" + where) + ": text after the " +
                           std::to_string(place.nchar) + (place.nchar == 1 ? " value" : " values") + " of taxon " +
                           std::to_string(ignored.taxon + 1) +
                           " '" + ignored.label + "' is ignored: '" + ignored.excerpt + "'" + others);
}

// One record as the sequential reader takes it: the label, the row, and the
// rest of the line after the last value, which is not data (a line feed
// right after the values stays in the stream).
template <class Matrix_Type, class Row_Reader>
void Read_Record(Text_Input& in, Input_Format format, Taxon_Labels& labels, Matrix_Type& matrix,
                 const Place& place, Row_Reader& read_row, Ignored_Text& ignored) {
  labels.emplace_back();
  Read_Label(in, format, labels.back(), place);
  read_row(in, matrix, place);
  if (!in.At_End_Of_Line()) Pass_Rest_Of_Line(in, labels.back(), place.taxon, ignored);
}

// Big matrices are read on several threads when each record stands on a
// line of its own, as writers of these files almost always put it. A window
// of text is cut at line ends into one piece per thread, and rows are made
// in the matrix for the records the lines may hold; each thread reads its
// lines with the sequential reader, one record per line, straight into
// those rows, and stops at the first line that is not a whole record by
// itself (a record spread over lines, a blank line, an error). The records
// are then taken in order, as long as every earlier piece was read to its
// end: from the start of a line that begins a record the sequential reader
// would read exactly those records. The rest of the rows are dropped, and
// what is not taken is left to the sequential reader, which also raises
// every error with its own message.
constexpr std::size_t Parallel_Window = std::size_t{8} << 20;
constexpr std::size_t Least_Parallel_Text = std::size_t{256} << 10;

// One row made ahead in a matrix, filled as the row readers fill a matrix.
template <class T>
struct Row_Slot {
  T* next;
  void Push(const T& value) { *next++ = value; }
  void Append_Row(std::span<const T> values) { next = std::copy(values.begin(), values.end(), next); }
  void Close_Row() {}
};

struct Piece {
  std::size_t begin = 0, end = 0; // in the window
  std::size_t first_row = 0;      // the row of its first record, from the first new row
  std::size_t rows = 0;           // rows made for it
  Taxon_Labels labels;            // one per record read
  std::vector<std::size_t> stops; // where the reader stands after each record, in the window
  bool whole = false;             // every line of the piece was a record
  std::size_t line_feeds = 0;
  // Text after the values: the records (of this piece) that have it, and
  // the first place, on the lines of the piece.
  std::vector<std::size_t> ignored_records;
  Ignored_Text ignored;
};

// Reads the record that starts at the cursor into `label` and `row` and
// tells whether it stood on one line (no blank line before it, no value on
// a later line); the cursor stays after the last value. Errors are the
// sequential reader's to report: here they only mean "no".
template <class Row_Sink, class Row_Reader>
bool Read_Record_Of_One_Line(Text_Input& text, Input_Format format, std::string& label, Row_Sink& row,
                             const Place& place, Row_Reader& read_row) {
  const long line = text.Line();
  try {
    Read_Label(text, format, label, place);
    read_row(text, row, place);
  } catch (const Errors::Error&) {
    return false;
  }
  return text.Line() == line;
}

// Reads, on several threads, up to `wanted` records that start at the
// cursor (at the start of a record) and appends them; returns how many.
template <class Matrix_Type, class Row_Reader>
int Read_Records_In_Parallel(Text_Input& in, Input_Format format, Taxon_Labels& labels, Matrix_Type& matrix,
                             const Place& place, int wanted, Row_Reader& read_row, Ignored_Text& ignored) {
  using T = typename Matrix_Type::Element;
  // The line feed a record's values may leave behind; the next label read
  // would pass over it.
  if (in.Peek() == '\n') in.Get();
  // Only text that is already there (a file, compressed or not, text in
  // memory): from a pipe or a terminal, reading ahead would wait for input
  // that may be slow to come, and there the reader takes no more than each
  // matrix needs. Compressed text is decompressed one window at a time.
  const std::optional<std::size_t> left = in.Known_Bytes_Left();
  const int threads = Generic::Parallel::Threads();
  if ((left && *left < Least_Parallel_Text) || threads < 2 || !in.Reads_Ahead()) return 0;
  const std::size_t want = std::min(left.value_or(Parallel_Window), Parallel_Window);
  const std::string_view window = in.Window(want);
  const bool complete = left ? window.size() == *left : window.size() < want;
  // A window that does not reach the end stops after its last line feed.
  const std::size_t usable = complete ? window.size() : window.rfind('\n') + 1; // npos + 1 is 0
  if (usable < Least_Parallel_Text) return 0;
  // The first record tells whether the records stand one to a line; if not,
  // the threads would read their pieces in vain.
  {
    Text_Input probe(window.substr(0, usable), Text_Input::Borrowed{});
    std::string label;
    Matrix_Type row;
    if (!Read_Record_Of_One_Line(probe, format, label, row, place, read_row)) return 0;
  }

  // Pieces of about equal size, each ending after a line feed. A line that
  // holds a record has at least nchar + 1 bytes (a label, then the values),
  // which bounds the rows made for a piece, as do its lines and what is left
  // of `wanted`: no more rows are made than the header promised.
  const auto nchar = static_cast<std::size_t>(place.nchar);
  std::vector<Piece> pieces;
  std::size_t rows = 0;
  for (std::size_t begin = 0; begin < usable;) {
    const std::size_t at = begin + (usable - begin) / static_cast<std::size_t>(threads - static_cast<int>(pieces.size()));
    const std::size_t nl = pieces.size() + 1 == static_cast<std::size_t>(threads) ? std::string_view::npos
                                                                                   : window.find('\n', at);
    const std::size_t end = nl == std::string_view::npos || nl + 1 >= usable ? usable : nl + 1;
    Piece piece;
    piece.begin = begin;
    piece.end = end;
    piece.first_row = rows;
    const std::string_view text = window.substr(begin, end - begin);
    std::size_t line_feeds = 0;
    const char* const stop = text.data() + text.size();
    for (const char* at = text.data();
         (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(stop - at)))) != nullptr; ++at)
      ++line_feeds;
    piece.line_feeds = line_feeds;
    const std::size_t lines = line_feeds + (text.back() != '\n');
    piece.rows = std::min({lines, text.size() / (nchar + 1) + 1, static_cast<std::size_t>(wanted) - rows});
    rows += piece.rows;
    pieces.push_back(std::move(piece));
    begin = end;
  }

  const int old_rows = matrix.Rows();
  T* const block = matrix.Add_Rows(rows, place.nchar);
  Generic::Parallel::Run(static_cast<int>(pieces.size()), [&](int w) {
    Piece& piece = pieces[static_cast<std::size_t>(w)];
    Text_Input text(window.substr(piece.begin, piece.end - piece.begin), Text_Input::Borrowed{});
    while (text.Known_Bytes_Left().value_or(0) > 0) {
      if (piece.labels.size() == piece.rows) return;
      std::string label;
      Row_Slot<T> slot{block + (piece.first_row + piece.labels.size()) * nchar};
      if (!Read_Record_Of_One_Line(text, format, label, slot, place, read_row)) return;
      // Where the sequential reader leaves the record: on the line feed
      // right after the values, else past the rest of the line.
      const bool at_line_feed = text.At_End_Of_Line();
      const std::size_t stop = piece.end - text.Known_Bytes_Left().value_or(0);
      if (at_line_feed) {
        text.Skip_Line();
      } else {
        const std::size_t before = piece.ignored.records;
        Pass_Rest_Of_Line(text, label, 0, piece.ignored);
        if (piece.ignored.records > before) piece.ignored_records.push_back(piece.labels.size());
      }
      piece.labels.push_back(std::move(label));
      piece.stops.push_back(at_line_feed ? stop : piece.end - text.Known_Bytes_Left().value_or(0));
    }
    piece.whole = true;
  });

  std::size_t taken = 0;
  std::size_t consumed = 0;
  long first_line = in.Line(); // of the piece
  for (Piece& piece : pieces) {
    const std::size_t count = std::min(piece.labels.size(), static_cast<std::size_t>(wanted) - taken);
    for (const std::size_t r : piece.ignored_records) {
      if (r >= count) break;
      if (ignored.records++ > 0) continue;
      // The piece's first line is the first line of the window only for the
      // first piece, which may start inside that line.
      const Ignored_Text& found = piece.ignored;
      ignored.line = first_line + found.line - 1;
      ignored.column = found.column + (found.line == 1 && &piece == &pieces.front() ? in.Column() - 1 : 0);
      ignored.taxon = place.taxon + static_cast<int>(taken + r);
      ignored.label = piece.labels[r];
      ignored.excerpt = found.excerpt;
    }
    for (std::size_t r = 0; r < count; ++r) labels.push_back(std::move(piece.labels[r]));
    first_line += static_cast<long>(piece.line_feeds);
    taken += count;
    if (count > 0) consumed = piece.stops[count - 1];
    if (!piece.whole || taken == static_cast<std::size_t>(wanted)) break;
  }
  matrix.Keep_Rows(old_rows + static_cast<int>(taken));
  in.Advance(consumed);
  return static_cast<int>(taken);
}

// The matrix as the sequential reader fills it, telling the page-backing
// helper how far the values have come: the helper then keeps a bounded
// distance ahead of the data read, however much the header promised.
template <class Matrix_Type>
struct Reported_Rows {
  using T = typename Matrix_Type::Element;
  Matrix_Type& matrix;
  Generic::Populating& populating;

  void Push(const T& value) {
    matrix.Push(value);
    populating.Reached(matrix.Values() * sizeof(T));
  }
  // The values are read already: the helper may go ahead of the copy.
  void Append_Row(std::span<const T> values) {
    populating.Reached((matrix.Values() + values.size()) * sizeof(T));
    matrix.Append_Row(values);
  }
  void Close_Row() { matrix.Close_Row(); }
};

// The hint for an error of the sequential reader when the file's first
// record ran past its line, as interleaved files make it; else nothing.
std::string Interleaved_Hint(Input_Format format, bool first_spread) {
  const char* option = format == Input_Format::PHYLIP            ? "--from=phylip-interleaved"
                       : format == Input_Format::EXTENDED_PHYLIP ? "--from=extended-interleaved"
                                                                 : nullptr;
  if (!first_spread || !option) return "";
  return std::string("looks interleaved (the values of taxon 1 go on past the line of its label); try ") + option;
}

// Reads one matrix with `read_matrix(first_spread)`; an error it ends with
// gets the hint when the first record ran past its line.
template <class Read_Matrix_Call>
auto With_Interleaved_Hint(Input_Format format, Read_Matrix_Call read_matrix) {
  bool first_spread = false;
  try {
    return read_matrix(first_spread);
  } catch (const Errors::End_Error& e) {
    const std::string hint = Interleaved_Hint(format, first_spread);
    if (hint.empty()) throw;
    throw Generic::With_Hint<Errors::End_Error>(e, hint);
  } catch (const Errors::Data_Error& e) {
    // A missing value's own hint says more than the layout's.
    const std::string hint = Interleaved_Hint(format, first_spread);
    if (hint.empty() || dynamic_cast<const Generic::Hint*>(&e)) throw;
    throw Generic::With_Hint<Errors::Data_Error>(e, hint);
  }
}

// One matrix: the header, then label and row of each taxon in turn. Labels
// and rows grow as they are read; the record is put together at the end.
// `value_bytes` is the least number of bytes a value takes in the text.
template <class Matrix_Type, class Row_Reader>
std::unique_ptr<Data_Record<Matrix_Type>> Read_Matrix(Text_Input& in, Input_Format format, std::size_t value_bytes,
                                                      Row_Reader read_row, bool& first_spread) {
  in.Skip_Byte_Order_Mark();
  Place place;
  Read_Header(in, place);
  const auto ntax = static_cast<std::size_t>(place.ntax);
  const auto promised = ntax * static_cast<std::size_t>(place.nchar);
  // The rest of a file of known size bounds what can really come, so that one
  // allocation serves a big matrix.
  const std::size_t possible = std::max(Max_Reserved_Values, in.Expected_Bytes_Left().value_or(0) / value_bytes + 1);
  Taxon_Labels labels;
  labels.reserve(std::min(ntax, Max_Reserved_Taxa));
  Matrix_Type matrix;
  matrix.Reserve_Rows(std::min(ntax, Max_Reserved_Taxa));
  matrix.Reserve_Values(std::min(promised, possible));
  // A big matrix would otherwise be read at the pace of the page faults its
  // new memory takes. Only memory that will not move: when the reservation
  // holds all that was promised, the matrix never grows out of it.
  Generic::Populating populating(matrix.Reserved_Memory(), promised <= possible ? matrix.Reserved_Bytes() : 0);
  Reported_Rows<Matrix_Type> rows{matrix, populating};
  Ignored_Text ignored;
  bool parallel = true;
  for (place.taxon = 0; place.taxon < place.ntax;) {
    if (parallel) {
      const std::size_t before = in.Offset();
      const int taken =
          Read_Records_In_Parallel(in, format, labels, matrix, place, place.ntax - place.taxon, read_row, ignored);
      // The threads fill rows only as far as the text in hand goes, which is
      // less than the helper's lead for all but the densest text.
      populating.Reached(matrix.Values() * sizeof(typename Matrix_Type::Element));
      place.taxon += taken;
      // A file whose records do not stand one to a line is read on one
      // thread from then on. A round costs about its whole window, however
      // few records it takes: one that ends at such a record after less
      // than Least_Parallel_Text of text also says so, or a file with many
      // of them would be scanned again for every few records.
      parallel = taken > 0 && in.Offset() - before >= Least_Parallel_Text;
      if (place.taxon == place.ntax) break;
    }
    // Whether the first record's values went on past the line of its label:
    // in an interleaved file they run into the next taxon's line.
    const long start = in.Line() + (in.Peek() == '\n' ? 1 : 0);
    Read_Record(in, format, labels, rows, place, read_row, ignored);
    if (place.taxon == 0) first_spread = (in.Column() == 1 ? in.Line() - 1 : in.Line()) > start;
    ++place.taxon;
  }
  Warn_Of_Ignored(ignored, in, place);
  return std::make_unique<Data_Record<Matrix_Type>>(std::move(labels), std::move(matrix));
}

// Interleaved matrices. `read_line(in, row, place)` appends the values of
// the rest of the line to `row` and stops at its line feed. Rows grow with
// the values read; they are put in the matrix at the end.
template <class Matrix_Type, class Read_Line>
std::unique_ptr<Data_Record<Matrix_Type>> Read_Interleaved(Text_Input& in, Input_Format format, Read_Line read_line) {
  using T = typename Matrix_Type::Element;
  const Input_Format label_format =
      format == Input_Format::PHYLIP_INTERLEAVED ? Input_Format::PHYLIP : Input_Format::EXTENDED_PHYLIP;
  in.Skip_Byte_Order_Mark();
  Place place;
  Read_Header(in, place);
  const auto ntax = static_cast<std::size_t>(place.ntax);
  const auto nchar = static_cast<std::size_t>(place.nchar);
  Taxon_Labels labels;
  labels.reserve(std::min(ntax, Max_Reserved_Taxa));
  std::vector<std::vector<T>> rows;
  rows.reserve(std::min(ntax, Max_Reserved_Taxa));
  for (place.taxon = 0; place.taxon < place.ntax; ++place.taxon) {
    labels.emplace_back();
    Read_Label(in, label_format, labels.back(), place);
    rows.emplace_back();
    read_line(in, rows.back(), place);
  }
  // Every taxon is there: the rows may take what they are to hold, if the
  // rest of the text can hold it.
  const std::size_t possible = std::max(Max_Reserved_Values, in.Known_Bytes_Left().value_or(0));
  if (nchar > 0 && ntax <= possible / nchar)
    for (std::vector<T>& row : rows) row.reserve(nchar);
  auto incomplete = [&] {
    return std::any_of(rows.begin(), rows.end(), [&](const std::vector<T>& row) { return row.size() < nchar; });
  };
  while (incomplete()) {
    for (place.taxon = 0; place.taxon < place.ntax; ++place.taxon) {
      std::vector<T>& row = rows[static_cast<std::size_t>(place.taxon)];
      // Blank lines, between blocks or not, are passed over.
      for (;;) {
        const int c = in.Peek();
        if (c < 0)
          Input_Ends(in, place,
                     place.Taxon() + " has " + std::to_string(row.size()) + " of " + std::to_string(nchar) + " values");
        if (c == '\n' || Whitespace_Table()[static_cast<unsigned char>(c)]) {
          in.Get();
          continue;
        }
        break;
      }
      read_line(in, row, place);
    }
  }
  Matrix_Type matrix;
  matrix.Reserve_Rows(ntax);
  matrix.Reserve_Values(ntax * nchar);
  for (std::vector<T>& row : rows) {
    matrix.Append_Row(std::span<const T>(row.data(), row.size()));
    std::vector<T>().swap(row);
  }
  return std::make_unique<Data_Record<Matrix_Type>>(std::move(labels), std::move(matrix));
}

// The message for a value beyond the row's end on a line of an interleaved
// matrix; the cursor is on it.
[[noreturn]] void Row_Is_Full(Text_Input& in, const Place& place) {
  Wrong_Text(in, "the end of the line: " + place.Taxon() + " has its " + std::to_string(place.nchar) + " values");
}

} // namespace

const TextUtils::Character_Set& Whitespace() { return Phylo::Whitespace(); }

bool Is_Missing_Value_Word(std::string_view word) {
  auto is = [&](std::string_view upper) {
    return word.size() == upper.size() && std::equal(word.begin(), word.end(), upper.begin(), [](char a, char b) {
             return (a >= 'a' && a <= 'z' ? a - 'a' + 'A' : a) == b;
           });
  };
  return is("NA") || is("NAN") || is("N/A") || is("?");
}

Disc_Data_Access Get_Phylip_Symbols(Text_IO::Text_Input& file, Input_Format format,
                                    const TextUtils::Character_Set& whitespace) {
  if (format == Input_Format::PHYLIP_INTERLEAVED || format == Input_Format::EXTENDED_INTERLEAVED) {
    const Byte_Table blank = Table_Of(whitespace);
    return Read_Interleaved<Disc_Matrix>(file, format, [&](Text_Input& in, std::vector<char>& row, const Place& place) {
      for (;;) {
        const std::string_view w = in.Window(1);
        if (w.empty()) return;
        std::size_t i = 0;
        for (; i < w.size(); ++i) {
          const char c = w[i];
          if (c == '\n') break;
          if (blank[static_cast<unsigned char>(c)]) continue;
          if (row.size() == static_cast<std::size_t>(place.nchar)) {
            in.Advance(i);
            Row_Is_Full(in, place);
          }
          row.push_back(c);
        }
        in.Advance(i);
        if (i < w.size()) return;
      }
    });
  }
  Byte_Table skip = Table_Of(whitespace);
  skip['\n'] = true; // line feeds between values are passed over whatever the skip set
  return With_Interleaved_Hint(format, [&](bool& first_spread) {
    return Read_Matrix<Disc_Matrix>(
        file, format, 1,
        [&](Text_Input& in, auto& matrix, const Place& place) {
          thread_local std::vector<char> row; // scratch for rows spread over lines
          Read_Discrete_Row(in, skip, matrix, row, place);
        },
        first_spread);
  });
}

Real_Data_Access Get_Phylip_Numbers(Text_IO::Text_Input& file, Input_Format format, Missing_Rule missing) {
  const bool keep_missing = missing == Missing_Rule::PAIRWISE;
  if (format == Input_Format::PHYLIP_INTERLEAVED || format == Input_Format::EXTENDED_INTERLEAVED) {
    return Read_Interleaved<Real_Matrix>(file, format, [&](Text_Input& in, std::vector<double>& row, const Place& place) {
      for (;;) {
        int c = in.Peek();
        while (c == ' ' || c == '\t' || c == '\r') {
          in.Get();
          c = in.Peek();
        }
        if (c < 0 || c == '\n') return;
        if (row.size() == static_cast<std::size_t>(place.nchar)) Row_Is_Full(in, place);
        const auto store = [&](double value) { row.push_back(value); };
        const auto ends = [&](int) { Input_Ends(in, place, place.Taxon() + " has a value cut short"); };
        const auto wrong = [&](int, Bad_Number why) {
          Wrong_Number(in, why, " for value " + std::to_string(row.size() + 1) + " of " + place.Taxon());
        };
        if (keep_missing)
          Read_Reals<true>(in, 1, store, ends, wrong);
        else
          Read_Reals<false>(in, 1, store, ends, wrong);
      }
    });
  }
  // A number has a digit, and all but the last need one more byte (a blank
  // or the sign of the next) to end them.
  auto read = [&](auto keep) {
    return With_Interleaved_Hint(format, [&](bool& first_spread) {
      return Read_Matrix<Real_Matrix>(
          file, format, 2,
          [](Text_Input& in, auto& matrix, const Place& place) {
            Read_Real_Row<decltype(keep)::value>(in, matrix, place);
          },
          first_spread);
    });
  };
  return keep_missing ? read(std::true_type{}) : read(std::false_type{});
}

int Read_Integer(Text_IO::Text_Input& file) {
  const Place nowhere;
  if (!Skip_Number_Blanks(file)) Input_Ends(file, nowhere, "an integer is missing");
  return Parse_Integer(file, "an integer");
}

double Read_Real(Text_IO::Text_Input& file) {
  const Place nowhere;
  double result = 0.0;
  Read_Reals<false>(
      file, 1, [&](double value) { result = value; },
      [&](int) { Input_Ends(file, nowhere, "a real number is missing"); },
      [&](int, Bad_Number why) { Wrong_Text(file, Expected_Number(why, "")); });
  return result;
}

} // namespace Karvel::Phylo::Read
