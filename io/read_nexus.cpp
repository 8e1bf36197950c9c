#include "io/read_nexus.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <memory>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "generic/errors.hpp"
#include "io/read.hpp"

namespace Phylo::Read {

namespace {

using Text_IO::Text_Input;

// A NEXUS file is read whole: it is one matrix, its commands are looked at
// in any order, and an error names its place in line and column.
std::string All_Text(Text_Input& in) {
  in.Skip_Byte_Order_Mark();
  std::string text;
  if (const auto left = in.Known_Bytes_Left()) text.reserve(*left);
  for (;;) {
    const std::string_view w = in.Window(std::size_t{1} << 16);
    if (w.empty()) return text;
    text.append(w);
    in.Advance(w.size());
  }
}

// Only ASCII controls and the space: bytes from 128 up belong to UTF-8
// labels.
constexpr bool Is_Blank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 32 || u == 127;
}

constexpr std::string_view Punctuation = "()[]{}/\\,;:=*'\"`+-<>";
bool Is_Punctuation(char c) { return Punctuation.find(c) != std::string_view::npos; }

bool Same_Word(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Lower(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

struct Token {
  enum Kind { END, WORD, QUOTED, PUNCTUATION };
  Kind Type = END;
  std::string Text;
  std::size_t At = 0;
};

// The text with a cursor, and the NEXUS rules for blanks, comments and
// tokens.
class Nexus {
public:
  explicit Nexus(std::string_view text) : text_(text) {}

  std::size_t Pos() const { return pos_; }
  void Move_To(std::size_t pos) { pos_ = pos; }
  std::size_t Size() const { return text_.size(); }
  // The byte at the cursor, or -1 at the end.
  int Peek() const { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : -1; }
  char At(std::size_t pos) const { return text_[pos]; }
  std::string_view Slice(std::size_t from, std::size_t to) const { return text_.substr(from, to - from); }

  // "LINE:COL" of a byte, both from 1; the column counts bytes.
  std::string Place(std::size_t at) const {
    at = std::min(at, text_.size());
    const std::size_t line_start = at == 0 ? 0 : text_.rfind('\n', at - 1) + 1; // npos + 1 is 0
    const auto line = 1 + std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(at), '\n');
    return std::to_string(line) + ":" + std::to_string(at - line_start + 1);
  }

  // What stands at a place, as an error message shows it.
  std::string Found(std::size_t at) const {
    if (at >= text_.size()) return "the end of the input";
    const char c = text_[at];
    if (c == '\n' || c == '\r') return "the end of the line";
    if (Is_Blank(c)) return "a byte with code " + std::to_string(static_cast<unsigned char>(c));
    std::size_t end = at;
    while (end < text_.size() && end - at < 16 && !Is_Blank(text_[end]) && !Is_Punctuation(text_[end])) ++end;
    // A UTF-8 letter is not cut in two.
    while (end > at && end < text_.size() && (static_cast<unsigned char>(text_[end]) & 0xC0) == 0x80) --end;
    if (end == at) end = at + 1;
    return "'" + std::string(text_.substr(at, end - at)) + "'";
  }

  [[noreturn]] void Fail(std::size_t at, const std::string& expected) const {
    throw Errors::Data_Error(Place(at) + ": expected " + expected + ", found " + Found(at));
  }

  // Passes over blanks and comments; with `keep_line_feed` it stops at a
  // line feed outside a comment.
  void Skip(bool keep_line_feed = false) {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '[') {
        Skip_Comment();
      } else if (Is_Blank(c) && !(keep_line_feed && c == '\n')) {
        ++pos_;
      } else {
        return;
      }
    }
  }

  // The next token: a quoted word (quotes doubled inside), one punctuation
  // mark, or a word up to a blank or punctuation mark. A label is a word up
  // to a blank, a comment or a semicolon, so that the labels people write
  // unquoted (Homo-sapiens, A.1) are read as one; in an unquoted word an
  // underscore stands for a space.
  Token Next(bool label = false) {
    Skip();
    Token token;
    token.At = pos_;
    if (pos_ >= text_.size()) return token;
    const char c = text_[pos_];
    if (c == '\'' || c == '"') {
      token.Type = Token::QUOTED;
      ++pos_;
      for (;;) {
        const std::size_t close = text_.find(c, pos_);
        if (close == std::string_view::npos) {
          pos_ = text_.size();
          Fail(pos_, std::string("a closing ") + c + " for the quotation at " + Place(token.At));
        }
        token.Text.append(text_.substr(pos_, close - pos_));
        pos_ = close + 1;
        if (pos_ < text_.size() && text_[pos_] == c) {
          token.Text.push_back(c);
          ++pos_;
          continue;
        }
        return token;
      }
    }
    if (!label && Is_Punctuation(c)) {
      token.Type = Token::PUNCTUATION;
      token.Text.assign(1, c);
      ++pos_;
      return token;
    }
    token.Type = Token::WORD;
    const std::size_t start = pos_;
    while (pos_ < text_.size()) {
      const char d = text_[pos_];
      if (Is_Blank(d) || (label ? d == '[' || d == ';' : Is_Punctuation(d))) break;
      ++pos_;
    }
    token.Text.assign(text_.substr(start, pos_ - start));
    if (label) std::replace(token.Text.begin(), token.Text.end(), '_', ' ');
    return token;
  }

  // The rest of a command, up to and including its semicolon.
  void Skip_Command() {
    for (;;) {
      const Token token = Next();
      if (token.Type == Token::END) Fail(token.At, "';' to end the command");
      if (token.Type == Token::PUNCTUATION && token.Text == ";") return;
    }
  }

  void Expect(const Token& token, std::string_view text, const std::string& what) const {
    if (token.Type == Token::QUOTED || !Same_Word(token.Text, text)) Fail(token.At, what);
  }

private:
  void Skip_Comment() {
    const std::size_t open = pos_;
    int depth = 0;
    for (; pos_ < text_.size(); ++pos_) {
      if (text_[pos_] == '[') ++depth;
      if (text_[pos_] == ']' && --depth == 0) {
        ++pos_;
        return;
      }
    }
    Fail(pos_, "']' to close the comment opened at " + Place(open));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

enum class Kind { SYMBOLS, NUMBERS };

struct Layout {
  Kind Type = Kind::SYMBOLS;
  std::string Datatype = "standard";
  std::size_t Datatype_At = std::string::npos; // npos: not declared
  char Missing = '?';
  char Gap = '-';
  char Match = '\0';
  std::string Symbols;
  bool Interleave = false;
  bool Respect_Case = false;
  bool Labels = true;
};

struct Header {
  Layout Format;
  int Ntax = -1;
  int Nchar = -1;
  Taxon_Labels Taxa; // from a TAXA block that the matrix uses
  bool Known_Taxa = false;
};

// `=` and its value after a keyword.
Token Value_Of(Nexus& nx, const Token& key) {
  const Token equals = nx.Next();
  if (equals.Type != Token::PUNCTUATION || equals.Text != "=") nx.Fail(equals.At, "'=' after " + key.Text);
  const Token value = nx.Next();
  if (value.Type == Token::END || (value.Type == Token::PUNCTUATION && value.Text == ";"))
    nx.Fail(value.At, "a value for " + key.Text);
  return value;
}

int Count_Of(Nexus& nx, const Token& key, int least) {
  const Token value = Value_Of(nx, key);
  int count = -1;
  const char* first = value.Text.data();
  const char* last = first + value.Text.size();
  const auto [end, ec] = std::from_chars(first, last, count);
  if (value.Type != Token::WORD || ec != std::errc() || end != last || count < least)
    nx.Fail(value.At, std::string(least > 0 ? "a positive" : "a") + " whole number after " + Lower(key.Text) + "=");
  return count;
}

char Symbol_Of(Nexus& nx, const Token& key) {
  const Token value = Value_Of(nx, key);
  if (value.Text.size() != 1) nx.Fail(value.At, "one symbol after " + Lower(key.Text) + "=");
  return value.Text[0];
}

void Read_Dimensions(Nexus& nx, Header& header, bool taxa_only) {
  for (;;) {
    const Token key = nx.Next();
    if (key.Type == Token::PUNCTUATION && key.Text == ";") return;
    if (key.Type != Token::WORD) nx.Fail(key.At, "ntax=, nchar= or ';'");
    if (Same_Word(key.Text, "ntax")) {
      header.Ntax = Count_Of(nx, key, 1);
    } else if (Same_Word(key.Text, "nchar") && !taxa_only) {
      header.Nchar = Count_Of(nx, key, 0);
    } else if (!Same_Word(key.Text, "newtaxa")) {
      nx.Fail(key.At, taxa_only ? "ntax=" : "ntax=, nchar= or newtaxa");
    }
  }
}

void Read_Format(Nexus& nx, Layout& format) {
  for (;;) {
    const Token key = nx.Next();
    if (key.Type == Token::PUNCTUATION && key.Text == ";") return;
    if (key.Type != Token::WORD) nx.Fail(key.At, "a FORMAT subcommand or ';'");
    const std::string name = Lower(key.Text);
    if (name == "datatype") {
      const Token value = Value_Of(nx, key);
      const std::string type = Lower(value.Text);
      if (type == "continuous") {
        format.Type = Kind::NUMBERS;
      } else if (type == "standard" || type == "dna" || type == "rna" || type == "nucleotide" ||
                 type == "protein" || type == "restriction") {
        format.Type = Kind::SYMBOLS;
      } else {
        nx.Fail(value.At, "datatype standard, dna, rna, nucleotide, protein, restriction or continuous");
      }
      format.Datatype = type;
      format.Datatype_At = value.At;
    } else if (name == "missing") {
      format.Missing = Symbol_Of(nx, key);
    } else if (name == "gap") {
      format.Gap = Symbol_Of(nx, key);
    } else if (name == "matchchar") {
      format.Match = Symbol_Of(nx, key);
    } else if (name == "symbols") {
      const Token value = Value_Of(nx, key);
      for (const char c : value.Text)
        if (!Is_Blank(c)) format.Symbols.push_back(c);
    } else if (name == "interleave" || name == "interleaved") {
      format.Interleave = true;
      const std::size_t back = nx.Pos();
      const Token next = nx.Next();
      if (next.Type == Token::PUNCTUATION && next.Text == "=") {
        const Token value = nx.Next();
        if (Same_Word(value.Text, "no"))
          format.Interleave = false;
        else if (!Same_Word(value.Text, "yes"))
          nx.Fail(value.At, "yes or no after interleave=");
      } else {
        nx.Move_To(back);
      }
    } else if (name == "respectcase") {
      format.Respect_Case = true;
    } else if (name == "nolabels") {
      format.Labels = false;
    } else if (name == "labels") {
      format.Labels = true;
    } else if (name == "transpose") {
      nx.Fail(key.At, "a matrix with one row per taxon");
    } else {
      // Subcommands that do not change what the cells are (equate, tokens,
      // items, statesformat, ...): passed over with their value, which may
      // be a list in parentheses.
      const std::size_t back = nx.Pos();
      const Token next = nx.Next();
      if (next.Type != Token::PUNCTUATION || next.Text != "=") {
        nx.Move_To(back);
        continue;
      }
      const Token value = nx.Next();
      if (value.Type == Token::PUNCTUATION && value.Text == "(") {
        for (Token t = nx.Next(); !(t.Type == Token::PUNCTUATION && t.Text == ")"); t = nx.Next())
          if (t.Type == Token::END) nx.Fail(t.At, "')' to close the list of " + key.Text);
      }
    }
  }
}

void Read_Taxa_Block(Nexus& nx, Header& header) {
  int declared = -1;
  for (;;) {
    const Token command = nx.Next();
    if (command.Type == Token::END) nx.Fail(command.At, "END; closing the TAXA block");
    if (Same_Word(command.Text, "end") || Same_Word(command.Text, "endblock")) {
      nx.Skip_Command();
      break;
    }
    if (Same_Word(command.Text, "dimensions")) {
      Header dimensions;
      Read_Dimensions(nx, dimensions, true);
      declared = dimensions.Ntax;
    } else if (Same_Word(command.Text, "taxlabels")) {
      header.Taxa.clear();
      for (;;) {
        nx.Skip();
        if (nx.Peek() == ';') break;
        const Token label = nx.Next(true);
        if (label.Type == Token::END) nx.Fail(label.At, "';' after the taxon labels");
        header.Taxa.push_back(label.Text);
      }
      if (declared >= 0 && static_cast<int>(header.Taxa.size()) != declared)
        nx.Fail(nx.Pos(), std::to_string(declared) + " taxon labels as ntax= says");
      nx.Move_To(nx.Pos() + 1);
    } else {
      nx.Skip_Command();
    }
  }
}

// Reads from "#NEXUS" to the keyword MATRIX of the first DATA or
// CHARACTERS block; the cursor stays after the keyword.
Header Read_Header(Nexus& nx, std::size_t& matrix_at) {
  const Token magic = nx.Next();
  nx.Expect(magic, "#NEXUS", "'#NEXUS' at the start of the file");
  Header header;
  for (;;) {
    const Token begin = nx.Next();
    if (begin.Type == Token::END) nx.Fail(begin.At, "a DATA or CHARACTERS block");
    nx.Expect(begin, "begin", "BEGIN and a block");
    const Token name = nx.Next();
    const Token semicolon = nx.Next();
    if (semicolon.Text != ";") nx.Fail(semicolon.At, "';' after BEGIN " + name.Text);
    if (Same_Word(name.Text, "taxa")) {
      Read_Taxa_Block(nx, header);
      continue;
    }
    const bool data = Same_Word(name.Text, "data");
    if (data || Same_Word(name.Text, "characters")) break;
    // Any other block is passed over, command by command, so that quoted
    // text and comments in it cannot end it early.
    for (;;) {
      const Token command = nx.Next();
      if (command.Type == Token::END) nx.Fail(command.At, "END; closing the " + name.Text + " block");
      const bool end = command.Type == Token::WORD &&
                       (Same_Word(command.Text, "end") || Same_Word(command.Text, "endblock"));
      if (!(command.Type == Token::PUNCTUATION && command.Text == ";")) nx.Skip_Command();
      if (end) break;
    }
  }
  // In the data block, up to MATRIX.
  const Taxon_Labels taxa = std::move(header.Taxa);
  header.Taxa.clear();
  for (;;) {
    const Token command = nx.Next();
    if (command.Type == Token::END || Same_Word(command.Text, "end") || Same_Word(command.Text, "endblock"))
      nx.Fail(command.At, "MATRIX in the data block");
    if (Same_Word(command.Text, "dimensions")) {
      Read_Dimensions(nx, header, false);
    } else if (Same_Word(command.Text, "format")) {
      Read_Format(nx, header.Format);
    } else if (Same_Word(command.Text, "matrix")) {
      matrix_at = command.At;
      break;
    } else {
      nx.Skip_Command();
    }
  }
  if (header.Nchar < 0) nx.Fail(matrix_at, "DIMENSIONS nchar= before MATRIX");
  // The block's own ntax defines its taxa unless it is that of the TAXA
  // block before it.
  if (!taxa.empty() && (header.Ntax < 0 || header.Ntax == static_cast<int>(taxa.size()))) {
    header.Ntax = static_cast<int>(taxa.size());
    header.Taxa = taxa;
    header.Known_Taxa = true;
  }
  if (header.Ntax < 0) nx.Fail(matrix_at, "DIMENSIONS ntax= or a TAXA block before MATRIX");
  if (!header.Known_Taxa) header.Taxa.assign(static_cast<std::size_t>(header.Ntax), std::string());
  if (!header.Format.Labels && !header.Known_Taxa) nx.Fail(matrix_at, "a TAXA block for a matrix without labels");
  return header;
}

// The command line, not the file, says what kind of characters are read; a
// file that says otherwise is refused with the option that reads it.
void Check_Kind(const Nexus& nx, const Header& header, std::size_t matrix_at, Kind wanted) {
  if (header.Format.Type == wanted) return;
  const bool declared = header.Format.Datatype_At != std::string::npos;
  const std::string what = declared ? "declares datatype=" + header.Format.Datatype
                                    : "declares no datatype (standard, the default)";
  const std::string remedy = wanted == Kind::NUMBERS ? "read it with -D (discrete) or -B (binary)"
                                                     : "read it without -D or -B (continuous characters)";
  throw Errors::Data_Error(nx.Place(declared ? header.Format.Datatype_At : matrix_at) + ": the matrix " + what +
                           ": " + remedy);
}

// A row of the matrix filled where it stands in the matrix's block.
template <class T>
class Row_In_Place {
public:
  explicit Row_In_Place(T* values) : values_(values) {}
  std::size_t size() const { return count_; }
  void push_back(T value) { values_[count_++] = value; }
  T operator[](std::size_t k) const { return values_[k]; }

private:
  T* values_;
  std::size_t count_ = 0;
};

// Reads the matrix rows after MATRIX and its closing semicolon into `rows`,
// one empty row per taxon. `read_cell(row, first)` reads the cell at the
// cursor (not a blank, a comment or ';') into `row`; `first` is the first
// taxon's row, null for the first taxon itself.
template <class Row, class Read_Cell>
Taxon_Labels Read_Rows(Nexus& nx, const Header& header, std::vector<Row>& rows, Read_Cell read_cell) {
  const auto ntax = static_cast<std::size_t>(header.Ntax);
  const auto nchar = static_cast<std::size_t>(header.Nchar);
  const bool interleave = header.Format.Interleave;
  Taxon_Labels labels = header.Taxa;
  std::vector<bool> seen(ntax, header.Known_Taxa);
  auto name = [&](std::size_t t) {
    return labels[t].empty() && !seen[t] ? "taxon " + std::to_string(t + 1) : "'" + labels[t] + "'";
  };
  std::size_t complete = 0;
  for (std::size_t segment = 0;; ++segment) {
    nx.Skip();
    if (nx.Peek() == ';') break;
    if (!interleave && segment == ntax)
      nx.Fail(nx.Pos(), "';' after the " + std::to_string(ntax) + " rows of the matrix");
    if (interleave && complete == ntax)
      nx.Fail(nx.Pos(), "';' after the rows, every taxon having its " + std::to_string(nchar) + " characters");
    if (nx.Peek() < 0) nx.Fail(nx.Pos(), "';' to end the matrix");
    std::size_t t = segment % ntax;
    const std::size_t label_at = nx.Pos();
    if (header.Format.Labels) {
      const Token label = nx.Next(true);
      if (label.Type == Token::WORD && label.Text.empty()) nx.Fail(label.At, "the label of a taxon");
      if (!seen[t]) {
        labels[t] = label.Text;
        seen[t] = true;
      } else if (labels[t] != label.Text) {
        // Blocks of an interleaved matrix, and a matrix under a TAXA block,
        // may name the taxa in another order.
        const auto found = std::find(labels.begin(), labels.end(), label.Text);
        if (found == labels.end() || !seen[static_cast<std::size_t>(found - labels.begin())])
          nx.Fail(label.At, header.Known_Taxa ? "a taxon of the TAXA block"
                                              : "one of the " + std::to_string(ntax) + " taxa of the first block");
        t = static_cast<std::size_t>(found - labels.begin());
      }
    }
    Row& row = rows[t];
    const std::size_t before = row.size();
    if (interleave) {
      for (;;) {
        nx.Skip(true);
        const int c = nx.Peek();
        if (c < 0 || c == '\n' || c == ';') break;
        if (row.size() == nchar)
          nx.Fail(nx.Pos(), "the end of the line: " + name(t) + " has its " + std::to_string(nchar) + " characters");
        read_cell(row, t == 0 ? nullptr : &rows[0]);
      }
    } else {
      if (before > 0) nx.Fail(label_at, "a taxon whose row is still to come");
      while (row.size() < nchar) {
        nx.Skip();
        if (nx.Peek() < 0 || nx.Peek() == ';')
          nx.Fail(nx.Pos(), std::to_string(nchar) + " characters for " + name(t) + " (it has " +
                                std::to_string(row.size()) + ")");
        read_cell(row, t == 0 ? nullptr : &rows[0]);
      }
    }
    if (row.size() == nchar && (before < nchar || nchar == 0)) ++complete;
  }
  for (std::size_t t = 0; t < ntax; ++t)
    if (rows[t].size() != nchar)
      nx.Fail(nx.Pos(), std::to_string(nchar) + " characters for " + name(t) + " (it has " +
                            std::to_string(rows[t].size()) + ")");
  nx.Move_To(nx.Pos() + 1);
  return labels;
}

// The case each letter takes: that of the symbols list where it holds the
// letter in one case, else upper case.
std::array<char, 256> Case_Folding(const Layout& format) {
  std::array<char, 256> fold{};
  for (std::size_t c = 0; c < fold.size(); ++c) fold[c] = static_cast<char>(c);
  if (format.Respect_Case) return fold;
  for (int c = 'a'; c <= 'z'; ++c) {
    const char lower = static_cast<char>(c), upper = static_cast<char>(std::toupper(c));
    const bool has_lower = format.Symbols.find(lower) != std::string::npos;
    const bool has_upper = format.Symbols.find(upper) != std::string::npos;
    const char to = has_lower && !has_upper ? lower : upper;
    fold[static_cast<unsigned char>(lower)] = to;
    fold[static_cast<unsigned char>(upper)] = to;
  }
  return fold;
}

// The rows of the matrix, filled in place: each cell takes at least a byte
// of the text, so a header that promises no more than the rest of the text
// holds gets its block at once. One that promises more cannot be met, and
// its rows only grow with what is read until the error comes.
template <class T, class Read_Cell>
std::unique_ptr<Data_Record<Generic::Row_Matrix<T>>> Read_Matrix(Nexus& nx, const Header& header,
                                                                Read_Cell read_cell) {
  const auto ntax = static_cast<std::size_t>(header.Ntax);
  const auto nchar = static_cast<std::size_t>(header.Nchar);
  Generic::Row_Matrix<T> matrix;
  if (nchar == 0 || ntax <= (nx.Size() - nx.Pos()) / nchar) {
    T* const block = matrix.Add_Rows(ntax, header.Nchar);
    std::vector<Row_In_Place<T>> rows;
    rows.reserve(ntax);
    for (std::size_t t = 0; t < ntax; ++t) rows.emplace_back(block + t * nchar);
    Taxon_Labels labels = Read_Rows(nx, header, rows, read_cell);
    return std::make_unique<Data_Record<Generic::Row_Matrix<T>>>(std::move(labels), std::move(matrix));
  }
  std::vector<std::vector<T>> rows(ntax);
  Taxon_Labels labels = Read_Rows(nx, header, rows, read_cell);
  for (const std::vector<T>& row : rows) matrix.Append_Row(row);
  return std::make_unique<Data_Record<Generic::Row_Matrix<T>>>(std::move(labels), std::move(matrix));
}

} // namespace

Disc_Data_Access Get_Nexus_Symbols(Text_IO::Text_Input& file) {
  const std::string text = All_Text(file);
  Nexus nx(text);
  std::size_t matrix_at = 0;
  const Header header = Read_Header(nx, matrix_at);
  Check_Kind(nx, header, matrix_at, Kind::SYMBOLS);
  const std::array<char, 256> fold = Case_Folding(header.Format);
  auto folded = [&](char c) { return fold[static_cast<unsigned char>(c)]; };
  const char missing = folded(header.Format.Missing);
  const char match = folded(header.Format.Match);
  const auto nchar = static_cast<std::size_t>(header.Nchar);
  // What a cell of one symbol may be: not a blank, and nothing that opens or
  // closes a comment, a cell of several states, a quotation or the matrix.
  constexpr std::string_view Not_Plain = "[]{}();'\"";
  std::array<bool, 256> plain{};
  for (std::size_t c = 0; c < plain.size(); ++c)
    plain[c] = !Is_Blank(static_cast<char>(c)) && Not_Plain.find(static_cast<char>(c)) == std::string_view::npos;
  return Read_Matrix<char>(nx, header, [&](auto& row, const auto* first) {
    const std::size_t at = nx.Pos();
    const char c = nx.At(at);
    if (c == '{' || c == '(') {
      // A polymorphic or uncertain cell: one state of several, which no
      // distance here can use; it counts as unknown.
      const char close = c == '{' ? '}' : ')';
      std::size_t end = at + 1;
      while (end < nx.Size() && nx.At(end) != close && nx.At(end) != ';') ++end;
      if (end == nx.Size() || nx.At(end) != close)
        nx.Fail(end, std::string("'") + close + "' to close the cell at " + nx.Place(at));
      row.push_back(missing);
      nx.Move_To(end + 1);
      return;
    }
    if (!plain[static_cast<unsigned char>(c)]) nx.Fail(at, "a symbol");
    // Symbols mostly stand in runs without blanks: a run is taken whole, up
    // to the end of the row.
    std::size_t k = at;
    do {
      const char symbol = folded(nx.At(k));
      if (header.Format.Match != '\0' && symbol == match) {
        if (!first || first->size() <= row.size())
          nx.Fail(k, "a symbol of the first taxon: there is none to match here");
        row.push_back((*first)[row.size()]);
      } else {
        row.push_back(symbol);
      }
      ++k;
    } while (k < nx.Size() && row.size() < nchar && plain[static_cast<unsigned char>(nx.At(k))]);
    nx.Move_To(k);
  });
}

Real_Data_Access Get_Nexus_Numbers(Text_IO::Text_Input& file) {
  const std::string text = All_Text(file);
  Nexus nx(text);
  std::size_t matrix_at = 0;
  const Header header = Read_Header(nx, matrix_at);
  Check_Kind(nx, header, matrix_at, Kind::NUMBERS);
  return Read_Matrix<double>(nx, header, [&](auto& row, const auto*) {
    const std::size_t at = nx.Pos();
    std::size_t end = at;
    while (end < nx.Size() && !Is_Blank(nx.At(end)) && nx.At(end) != '[' && nx.At(end) != ';') ++end;
    // The numbers of the PHYLIP layouts, rounded the same way.
    const std::string_view number = nx.Slice(at, end);
    Text_IO::Text_Input in(number, Text_IO::Text_Input::Borrowed{});
    double value = 0.0;
    try {
      value = Read_Real(in);
    } catch (const Errors::Error&) {
      nx.Fail(at, "a number");
    }
    if (in.Known_Bytes_Left().value_or(0) != 0) nx.Fail(at, "a number");
    row.push_back(value);
    nx.Move_To(end);
  });
}

} // namespace Phylo::Read
