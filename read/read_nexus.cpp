#include "read/read_nexus.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <functional>
#include <memory>
#include <limits>
#include <optional>
#include <utility>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "diagnostics/errors.hpp"
#include "diagnostics/warnings.hpp"
#include "read/input_format.hpp"
#include "read/words.hpp"

namespace Karvel::Phylo::Read {

namespace {

using Text_IO::Text_Input;

// The NEXUS reader takes the text as it comes, once: an error names its
// place in line and column, and what a header promises is not believed
// before the rows are there.


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

// A place in the text: line and column (bytes), both from 1.
struct Where {
  long Line = 1;
  long Column = 1;
};

std::string Place(Where at) { return std::to_string(at.Line) + ":" + std::to_string(at.Column); }

struct Token {
  enum Kind { END, WORD, QUOTED, PUNCTUATION };
  Kind Type = END;
  std::string Text;
  Where At;
  // What an error at the token says it found there, taken before the token
  // is consumed.
  std::string Found;
};

// How much text a run of cells or a comment is scanned in at a time.
constexpr std::size_t Scan_Window = std::size_t{1} << 16;

// The input with the NEXUS rules for blanks, comments and tokens.
class Nexus {
public:
  explicit Nexus(Text_Input& in) : in_(in) {}

  Where Here() const { return {in_.Line(), in_.Column()}; }
  // The byte at the cursor, or -1 at the end.
  int Peek() { return in_.Peek(); }
  void Advance(std::size_t count) { in_.Advance(count); }
  std::string_view Window(std::size_t want) { return in_.Window(want); }
  std::optional<std::size_t> Known_Bytes_Left() { return in_.Known_Bytes_Left(); }

  // What stands at the cursor, as an error message shows it.
  std::string Found() {
    const std::string_view w = in_.Window(20);
    if (w.empty()) return "the end of the input";
    const char c = w[0];
    if (c == '\n' || c == '\r') return "the end of the line";
    if (Is_Blank(c)) return "a byte with code " + std::to_string(static_cast<unsigned char>(c));
    std::size_t end = 0;
    while (end < w.size() && end < 16 && !Is_Blank(w[end]) && !Is_Punctuation(w[end])) ++end;
    // A UTF-8 letter is not cut in two.
    while (end > 0 && end < w.size() && (static_cast<unsigned char>(w[end]) & 0xC0) == 0x80) --end;
    if (end == 0) end = 1;
    return "'" + std::string(w.substr(0, end)) + "'";
  }

  [[noreturn]] static void Fail(Where at, const std::string& found, const std::string& expected) {
    throw Generic::Placed(Errors::Data_Error(Place(at) + ": expected " + expected + ", found " + found), at.Line,
                          at.Column);
  }
  [[noreturn]] static void Fail(const Token& token, const std::string& expected) {
    Fail(token.At, token.Found, expected);
  }
  [[noreturn]] void Fail_Here(const std::string& expected) { Fail(Here(), Found(), expected); }

  // Passes over blanks and comments; with `keep_line_feed` it stops at a
  // line feed outside a comment.
  void Skip(bool keep_line_feed = false) {
    for (;;) {
      const std::string_view w = in_.Window(1);
      if (w.empty()) return;
      std::size_t i = 0;
      while (i < w.size() && Is_Blank(w[i]) && !(keep_line_feed && w[i] == '\n')) ++i;
      in_.Advance(i);
      if (i == w.size()) continue;
      if (w[i] != '[') return;
      Skip_Comment();
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
    token.At = Here();
    token.Found = Found();
    const int first = Peek();
    if (first < 0) return token;
    const char c = static_cast<char>(first);
    if (c == '\'' || c == '"') {
      token.Type = Token::QUOTED;
      in_.Advance(1);
      for (;;) {
        const std::string_view w = in_.Window(1);
        if (w.empty()) Fail_Here(std::string("a closing ") + c + " for the quotation at " + Place(token.At));
        const std::size_t close = w.find(c);
        token.Text.append(w.substr(0, std::min(close, w.size())));
        if (close == std::string_view::npos) {
          in_.Advance(w.size());
          continue;
        }
        in_.Advance(close + 1);
        if (Peek() == c) {
          token.Text.push_back(c);
          in_.Advance(1);
          continue;
        }
        return token;
      }
    }
    if (!label && Is_Punctuation(c)) {
      token.Type = Token::PUNCTUATION;
      token.Text.assign(1, c);
      in_.Advance(1);
      return token;
    }
    token.Type = Token::WORD;
    for (;;) {
      const std::string_view w = in_.Window(1);
      std::size_t i = 0;
      while (i < w.size() && !(Is_Blank(w[i]) || (label ? w[i] == '[' || w[i] == ';' : Is_Punctuation(w[i])))) ++i;
      token.Text.append(w.substr(0, i));
      in_.Advance(i);
      if (i < w.size() || w.empty()) break;
    }
    if (label) std::replace(token.Text.begin(), token.Text.end(), '_', ' ');
    return token;
  }

  // The rest of a command, up to and including its semicolon.
  void Skip_Command() {
    for (;;) {
      const Token token = Next();
      if (token.Type == Token::END) Fail(token, "';' to end the command");
      if (token.Type == Token::PUNCTUATION && token.Text == ";") return;
    }
  }

  static void Expect(const Token& token, std::string_view text, const std::string& what) {
    if (token.Type == Token::QUOTED || !Same_Word(token.Text, text)) Fail(token, what);
  }

private:
  void Skip_Comment() {
    const Where open = Here();
    int depth = 0;
    for (;;) {
      const std::string_view w = in_.Window(Scan_Window);
      if (w.empty()) Fail_Here("']' to close the comment opened at " + Place(open));
      for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == '[') ++depth;
        if (w[i] == ']' && --depth == 0) {
          in_.Advance(i + 1);
          return;
        }
      }
      in_.Advance(w.size());
    }
  }

  Text_Input& in_;
};

enum class Kind { SYMBOLS, NUMBERS };

// A symbol that an EQUATE macro stands for: one symbol, or a set of states
// ({..} or (..)).
struct Equate {
  char Symbol = '\0';
  bool Set = false;
};

struct Layout {
  Kind Type = Kind::SYMBOLS;
  std::string Datatype = "standard";
  std::optional<Where> Datatype_At; // none: not declared
  char Missing = '?';
  char Gap = '-';
  char Match = '\0';
  std::string Symbols;
  std::vector<std::pair<char, Equate>> Equates; // in the order given
  bool Interleave = false;
  bool Respect_Case = false;
  bool Labels = true;
  bool Tokens = false; // a cell is a word, not one symbol (read for mixed characters only)
};

struct Header {
  Layout Format;
  int Ntax = -1;
  int Nchar = -1;
  Taxon_Labels Taxa; // from a TAXA block that the matrix uses
  bool Known_Taxa = false;
  std::vector<std::string> Character_Names; // CHARLABELS
  // CHARSTATELABELS, read for mixed characters only: the name of each
  // character it names, and whether it names the character's states.
  std::vector<std::string> State_Label_Names;
  std::vector<bool> States_Named;
};

// The words of a command up to its ';' (left to be consumed), as labels
// are read: quoted or not.
std::vector<std::string> Read_Words(Nexus& nx, const std::string& expected) {
  std::vector<std::string> words;
  for (;;) {
    nx.Skip();
    if (nx.Peek() == ';') return words;
    const Token word = nx.Next(true);
    if (word.Type == Token::END) Nexus::Fail(word, expected);
    words.push_back(word.Text);
  }
}

// `=` and its value after a keyword.
Token Value_Of(Nexus& nx, const Token& key) {
  const Token equals = nx.Next();
  if (equals.Type != Token::PUNCTUATION || equals.Text != "=") Nexus::Fail(equals, "'=' after " + key.Text);
  const Token value = nx.Next();
  if (value.Type == Token::END || (value.Type == Token::PUNCTUATION && value.Text == ";"))
    Nexus::Fail(value, "a value for " + key.Text);
  return value;
}

int Count_Of(Nexus& nx, const Token& key, int least) {
  const Token value = Value_Of(nx, key);
  int count = -1;
  const char* first = value.Text.data();
  const char* last = first + value.Text.size();
  const auto [end, ec] = std::from_chars(first, last, count);
  if (value.Type != Token::WORD || ec != std::errc() || end != last || count < least)
    Nexus::Fail(value, std::string(least > 0 ? "a positive" : "a") + " whole number after " + Lower(key.Text) + "=");
  return count;
}

char Symbol_Of(Nexus& nx, const Token& key) {
  const Token value = Value_Of(nx, key);
  if (value.Text.size() != 1) Nexus::Fail(value, "one symbol after " + Lower(key.Text) + "=");
  return value.Text[0];
}

// The macros of EQUATE="S=E ...": a symbol S, then a symbol or a set of
// states in braces or parentheses. `value` is the quoted text.
void Read_Equates(const Token& value, Layout& format) {
  const std::string& text = value.Text;
  auto fail = [&](const std::string& expected) {
    Nexus::Fail(value, expected + " in the equate macros \"" + text + "\"");
  };
  std::size_t i = 0;
  auto skip = [&] {
    while (i < text.size() && Is_Blank(text[i])) ++i;
  };
  for (skip(); i < text.size(); skip()) {
    const char symbol = text[i++];
    skip();
    if (i == text.size() || text[i] != '=') fail(std::string("'=' after '") + symbol + "'");
    ++i;
    skip();
    if (i == text.size()) fail(std::string("what '") + symbol + "' stands for");
    Equate expansion;
    if (text[i] == '{' || text[i] == '(') {
      const std::size_t close = text.find(text[i] == '{' ? '}' : ')', i);
      if (close == std::string::npos) fail("the end of the set after '" + std::string(1, symbol) + "='");
      expansion.Set = true;
      i = close + 1;
    } else {
      expansion.Symbol = text[i++];
    }
    if (i < text.size() && !Is_Blank(text[i])) fail(std::string("one symbol or one set after '") + symbol + "='");
    format.Equates.emplace_back(symbol, expansion);
  }
}

void Read_Dimensions(Nexus& nx, Header& header, bool taxa_only) {
  for (;;) {
    const Token key = nx.Next();
    if (key.Type == Token::PUNCTUATION && key.Text == ";") return;
    if (key.Type != Token::WORD) Nexus::Fail(key, "ntax=, nchar= or ';'");
    if (Same_Word(key.Text, "ntax")) {
      header.Ntax = Count_Of(nx, key, 1);
    } else if (Same_Word(key.Text, "nchar") && !taxa_only) {
      header.Nchar = Count_Of(nx, key, 0);
    } else if (!Same_Word(key.Text, "newtaxa")) {
      Nexus::Fail(key, taxa_only ? "ntax=" : "ntax=, nchar= or newtaxa");
    }
  }
}

void Read_Format(Nexus& nx, Layout& format) {
  for (;;) {
    const Token key = nx.Next();
    if (key.Type == Token::PUNCTUATION && key.Text == ";") return;
    if (key.Type != Token::WORD) Nexus::Fail(key, "a FORMAT subcommand or ';'");
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
        Nexus::Fail(value, "datatype standard, dna, rna, nucleotide, protein, restriction or continuous");
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
    } else if (name == "equate") {
      Read_Equates(Value_Of(nx, key), format);
    } else if (name == "interleave" || name == "interleaved") {
      format.Interleave = true;
      nx.Skip();
      if (nx.Peek() == '=') {
        nx.Advance(1);
        const Token value = nx.Next();
        if (Same_Word(value.Text, "no"))
          format.Interleave = false;
        else if (!Same_Word(value.Text, "yes"))
          Nexus::Fail(value, "yes or no after interleave=");
      }
    } else if (name == "respectcase") {
      format.Respect_Case = true;
    } else if (name == "tokens") {
      format.Tokens = true;
    } else if (name == "notokens") {
      format.Tokens = false;
    } else if (name == "nolabels") {
      format.Labels = false;
    } else if (name == "labels") {
      format.Labels = true;
    } else if (name == "transpose") {
      Nexus::Fail(key, "a matrix with one row per taxon");
    } else {
      // Subcommands that do not change what the cells are (tokens, items,
      // statesformat, ...): passed over with their value, which may be a
      // list in parentheses.
      nx.Skip();
      if (nx.Peek() != '=') continue;
      nx.Advance(1);
      const Token value = nx.Next();
      if (value.Type == Token::PUNCTUATION && value.Text == "(") {
        for (Token t = nx.Next(); !(t.Type == Token::PUNCTUATION && t.Text == ")"); t = nx.Next())
          if (t.Type == Token::END) Nexus::Fail(t, "')' to close the list of " + key.Text);
      }
    }
  }
}

void Read_Taxa_Block(Nexus& nx, Header& header) {
  int declared = -1;
  for (;;) {
    const Token command = nx.Next();
    if (command.Type == Token::END) Nexus::Fail(command, "END; closing the TAXA block");
    if (Same_Word(command.Text, "end") || Same_Word(command.Text, "endblock")) {
      nx.Skip_Command();
      break;
    }
    if (Same_Word(command.Text, "dimensions")) {
      Header dimensions;
      Read_Dimensions(nx, dimensions, true);
      declared = dimensions.Ntax;
    } else if (Same_Word(command.Text, "taxlabels")) {
      header.Taxa = Read_Words(nx, "';' after the taxon labels");
      if (declared >= 0 && static_cast<int>(header.Taxa.size()) != declared)
        nx.Fail_Here(std::to_string(declared) + " taxon labels as ntax= says");
      nx.Advance(1);
    } else {
      nx.Skip_Command();
    }
  }
}

// CHARSTATELABELS: entries "number name / state state ...", separated by
// commas, the name and the states optional.
void Read_Char_State_Labels(Nexus& nx, Header& header) {
  for (;;) {
    const Token number = nx.Next();
    if (number.Type == Token::PUNCTUATION && number.Text == ";") return;
    int k = 0;
    const auto [end, ec] = std::from_chars(number.Text.data(), number.Text.data() + number.Text.size(), k);
    if (number.Type != Token::WORD || ec != std::errc() || end != number.Text.data() + number.Text.size() || k < 1)
      Nexus::Fail(number, "the number of a character in CHARSTATELABELS");
    const auto at = static_cast<std::size_t>(k - 1);
    if (header.State_Label_Names.size() <= at) {
      header.State_Label_Names.resize(at + 1);
      header.States_Named.resize(at + 1);
    }
    bool states = false;
    for (Token t = nx.Next();; t = nx.Next()) {
      if (t.Type == Token::END) Nexus::Fail(t, "';' to end CHARSTATELABELS");
      if (t.Type == Token::PUNCTUATION && (t.Text == "," || t.Text == ";")) {
        if (t.Text == ";") return;
        break;
      }
      if (t.Type == Token::PUNCTUATION && t.Text == "/")
        states = true;
      else if (states)
        header.States_Named[at] = true;
      else if (header.State_Label_Names[at].empty())
        header.State_Label_Names[at] = t.Text;
    }
  }
}

// Reads from "#NEXUS" to the keyword MATRIX of the first DATA or
// CHARACTERS block, which it returns; the cursor stays after the keyword.
Token Read_Header(Nexus& nx, Header& header) {
  // Looked at in place, so that a file of another kind is refused before
  // its first word is read, however long.
  nx.Skip();
  const std::string_view magic = nx.Window(7);
  if (!(magic.size() >= 6 && Same_Word(magic.substr(0, 6), "#NEXUS") &&
        (magic.size() == 6 || Is_Blank(magic[6]) || Is_Punctuation(magic[6]))))
    nx.Fail_Here("'#NEXUS' at the start of the file");
  nx.Advance(6);
  for (;;) {
    const Token begin = nx.Next();
    if (begin.Type == Token::END) Nexus::Fail(begin, "a DATA or CHARACTERS block");
    Nexus::Expect(begin, "begin", "BEGIN and a block");
    const Token name = nx.Next();
    const Token semicolon = nx.Next();
    if (semicolon.Text != ";") Nexus::Fail(semicolon, "';' after BEGIN " + name.Text);
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
      if (command.Type == Token::END) Nexus::Fail(command, "END; closing the " + name.Text + " block");
      const bool end = command.Type == Token::WORD &&
                       (Same_Word(command.Text, "end") || Same_Word(command.Text, "endblock"));
      if (!(command.Type == Token::PUNCTUATION && command.Text == ";")) nx.Skip_Command();
      if (end) break;
    }
  }
  // In the data block, up to MATRIX.
  Taxon_Labels taxa = std::move(header.Taxa);
  header.Taxa.clear();
  Token matrix;
  for (;;) {
    Token command = nx.Next();
    if (command.Type == Token::END || Same_Word(command.Text, "end") || Same_Word(command.Text, "endblock"))
      Nexus::Fail(command, "MATRIX in the data block");
    if (Same_Word(command.Text, "dimensions")) {
      Read_Dimensions(nx, header, false);
    } else if (Same_Word(command.Text, "format")) {
      Read_Format(nx, header.Format);
    } else if (Same_Word(command.Text, "charlabels")) {
      header.Character_Names = Read_Words(nx, "';' after the character labels");
      nx.Advance(1);
    } else if (Same_Word(command.Text, "charstatelabels")) {
      Read_Char_State_Labels(nx, header);
    } else if (Same_Word(command.Text, "matrix")) {
      matrix = std::move(command);
      break;
    } else {
      nx.Skip_Command();
    }
  }
  if (header.Nchar < 0) Nexus::Fail(matrix, "DIMENSIONS nchar= before MATRIX");
  // The block's own ntax defines its taxa unless it is that of the TAXA
  // block before it.
  if (!taxa.empty() && (header.Ntax < 0 || header.Ntax == static_cast<int>(taxa.size()))) {
    header.Ntax = static_cast<int>(taxa.size());
    header.Taxa = std::move(taxa);
    header.Known_Taxa = true;
  }
  if (header.Ntax < 0) Nexus::Fail(matrix, "DIMENSIONS ntax= or a TAXA block before MATRIX");
  if (!header.Format.Labels && !header.Known_Taxa) Nexus::Fail(matrix, "a TAXA block for a matrix without labels");
  return matrix;
}

// The command line, not the file, says what kind of characters are read; a
// file that says otherwise is refused with the option that reads it.
void Check_Kind(const Header& header, const Token& matrix, Kind wanted) {
  if (header.Format.Type == wanted) return;
  const bool declared = header.Format.Datatype_At.has_value();
  const std::string what = declared ? "declares datatype=" + header.Format.Datatype
                                    : "declares no datatype (standard, the default)";
  const std::string remedy = wanted == Kind::NUMBERS ? "read it with -D (discrete) or -B (binary)"
                                                     : "read it without -D or -B (continuous characters)";
  const Where at = declared ? *header.Format.Datatype_At : matrix.At;
  throw Generic::Placed(Errors::Data_Error(Place(at) + ": the matrix " + what + ": " + remedy), at.Line, at.Column);
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
// which grows by `make_row()` as the taxa come: what ntax= promises is
// checked at the end, never made ahead. `read_cell(row, first)` reads the
// cell at the cursor (not a blank, a comment or ';') into `row`; `first` is
// the first taxon's row, null for the first taxon itself.
template <class Row, class Make_Row, class Read_Cell>
Taxon_Labels Read_Rows(Nexus& nx, const Header& header, std::vector<Row>& rows, Make_Row make_row,
                       Read_Cell read_cell) {
  const auto ntax = static_cast<std::size_t>(header.Ntax);
  const auto nchar = static_cast<std::size_t>(header.Nchar);
  const bool interleave = header.Format.Interleave;
  // The labels of the taxa seen so far, or all of those of a TAXA block.
  Taxon_Labels labels;
  if (header.Known_Taxa) {
    labels = header.Taxa;
    while (rows.size() < ntax) rows.push_back(make_row());
  }
  auto name = [&](std::size_t t) {
    return t < labels.size() ? "'" + labels[t] + "'" : "taxon " + std::to_string(t + 1);
  };
  std::size_t complete = 0;
  for (std::size_t segment = 0;; ++segment) {
    nx.Skip();
    if (nx.Peek() == ';') break;
    if (!interleave && segment == ntax)
      nx.Fail_Here("';' after the " + std::to_string(ntax) + " rows of the matrix");
    if (interleave && complete == ntax)
      nx.Fail_Here("';' after the rows, every taxon having its " + std::to_string(nchar) + " characters");
    if (nx.Peek() < 0) nx.Fail_Here("';' to end the matrix");
    std::size_t t = segment % ntax;
    Token label;
    if (header.Format.Labels) {
      label = nx.Next(true);
      if (label.Type == Token::WORD && label.Text.empty()) Nexus::Fail(label, "the label of a taxon");
      if (t == labels.size()) {
        labels.push_back(label.Text);
        rows.push_back(make_row());
      } else if (labels[t] != label.Text) {
        // Blocks of an interleaved matrix, and a matrix under a TAXA block,
        // may name the taxa in another order.
        const auto found = std::find(labels.begin(), labels.end(), label.Text);
        if (found == labels.end())
          Nexus::Fail(label, header.Known_Taxa ? "a taxon of the TAXA block"
                                               : "one of the " + std::to_string(ntax) + " taxa of the first block");
        t = static_cast<std::size_t>(found - labels.begin());
      }
    } else {
      label.At = nx.Here();
      label.Found = nx.Found();
    }
    Row& row = rows[t];
    const std::size_t before = row.size();
    if (interleave) {
      for (;;) {
        nx.Skip(true);
        const int c = nx.Peek();
        if (c < 0 || c == '\n' || c == ';') break;
        if (row.size() == nchar)
          nx.Fail_Here("the end of the line: " + name(t) + " has its " + std::to_string(nchar) + " characters");
        read_cell(row, t == 0 ? nullptr : &rows[0]);
      }
    } else {
      if (before > 0) Nexus::Fail(label, "a taxon whose row is still to come");
      while (row.size() < nchar) {
        nx.Skip();
        if (nx.Peek() < 0 || nx.Peek() == ';')
          nx.Fail_Here(std::to_string(nchar) + " characters for " + name(t) + " (it has " +
                       std::to_string(row.size()) + ")");
        read_cell(row, t == 0 ? nullptr : &rows[0]);
      }
    }
    if (row.size() == nchar && (before < nchar || nchar == 0)) ++complete;
  }
  for (std::size_t t = 0; t < ntax; ++t) {
    if (t >= rows.size() && nchar == 0)
      nx.Fail_Here("the row of taxon " + std::to_string(t + 1) + " of the " + std::to_string(ntax) +
                   " that ntax= gives");
    const std::size_t has = t < rows.size() ? rows[t].size() : 0;
    if (has != nchar)
      nx.Fail_Here(std::to_string(nchar) + " characters for " + name(t) + " (it has " + std::to_string(has) + ")");
  }
  nx.Advance(1);
  // One file holds one matrix: the rest of it is passed over unread.
  for (std::string_view w = nx.Window(Scan_Window); !w.empty(); w = nx.Window(Scan_Window)) nx.Advance(w.size());
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

// What is reserved for a matrix before its rows are read, as the PHYLIP
// layouts' reader does: the block the header asks for when the rest of a
// file of known size could hold it (each cell takes at least a byte) or
// when it is small. Otherwise rows grow with what is read, so that a header
// promising far more than the text holds costs no more than the text.
constexpr std::size_t Max_Reserved_Cells = std::size_t{1} << 20;

// CHARLABELS may name the first characters only; the names are kept when
// they name all, the only way the layouts that write them can.
template <class Record>
Record Named(Record data, const Header& header) {
  if (header.Character_Names.size() == static_cast<std::size_t>(header.Nchar))
    data->Character_Names = header.Character_Names;
  return data;
}

template <class T, class Read_Cell>
std::unique_ptr<Data_Record<Generic::Row_Matrix<T>>> Read_Matrix(Nexus& nx, const Header& header,
                                                                Read_Cell read_cell) {
  const auto ntax = static_cast<std::size_t>(header.Ntax);
  const auto nchar = static_cast<std::size_t>(header.Nchar);
  const std::size_t possible = std::max(Max_Reserved_Cells, nx.Known_Bytes_Left().value_or(0));
  Generic::Row_Matrix<T> matrix;
  if (ntax <= possible / std::max<std::size_t>(nchar, 1)) {
    T* const block = matrix.Add_Rows(ntax, header.Nchar);
    std::vector<Row_In_Place<T>> rows;
    Taxon_Labels labels = Read_Rows(
        nx, header, rows, [&] { return Row_In_Place<T>(block + rows.size() * nchar); }, read_cell);
    return Named(std::make_unique<Data_Record<Generic::Row_Matrix<T>>>(std::move(labels), std::move(matrix)), header);
  }
  std::vector<std::vector<T>> rows;
  Taxon_Labels labels = Read_Rows(nx, header, rows, [] { return std::vector<T>(); }, read_cell);
  for (std::vector<T>& row : rows) {
    matrix.Append_Row(row);
    std::vector<T>().swap(row);
  }
  return Named(std::make_unique<Data_Record<Generic::Row_Matrix<T>>>(std::move(labels), std::move(matrix)), header);
}

// Passes over the polymorphic {..} or uncertain (..) cell at the cursor,
// whose place it returns.
Where Skip_Several(Nexus& nx) {
  const Where at = nx.Here();
  const char close = nx.Peek() == '{' ? '}' : ')';
  nx.Advance(1);
  for (;;) {
    const std::string_view w = nx.Window(1);
    std::size_t end = 0;
    while (end < w.size() && w[end] != close && w[end] != ';') ++end;
    nx.Advance(end);
    if (end == w.size() && !w.empty()) continue;
    if (end == w.size() || w[end] != close) nx.Fail_Here(std::string("'") + close + "' to close the cell at " + Place(at));
    nx.Advance(1);
    return at;
  }
}

void Warn_Several(std::size_t several, Where first, const std::string& read_as) {
  if (several > 0)
    Generic::Warnings::Issue("the NEXUS matrix holds " + std::to_string(several) +
                             (several == 1 ? " polymorphic or uncertain cell" : " polymorphic or uncertain cells") +
                             " ({..} or (..), the first at " + Place(first) + "), read as " + read_as);
}

// Reads the header up to the MATRIX command, which must begin a block of
// `kind`.
void Read_To_Matrix(Nexus& nx, Header& header, Kind kind) {
  const Token matrix_token = Read_Header(nx, header);
  Check_Kind(header, matrix_token, kind);
}

} // namespace

Disc_Data_Access Get_Nexus_Symbols(Text_IO::Text_Input& file) {
  file.Skip_Byte_Order_Mark();
  Nexus nx(file);
  Header header;
  Read_To_Matrix(nx, header, Kind::SYMBOLS);
  const Layout& format = header.Format;
  const std::array<char, 256> fold = Case_Folding(format);
  auto folded = [&](char c) { return fold[static_cast<unsigned char>(c)]; };
  const char missing = folded(format.Missing);
  const char match = folded(format.Match);
  const auto nchar = static_cast<std::size_t>(header.Nchar);
  // What a cell of one symbol may be: not a blank, and nothing that opens or
  // closes a comment, a cell of several states, a quotation or the matrix.
  constexpr std::string_view Not_Plain = "[]{}();'\"";
  std::array<bool, 256> plain{};
  for (std::size_t c = 0; c < plain.size(); ++c)
    plain[c] = !Is_Blank(static_cast<char>(c)) && Not_Plain.find(static_cast<char>(c)) == std::string_view::npos;
  // Each byte of a run of symbols is stored as `stored` says, unless it is
  // `special`: the match character, or a macro for a set of states.
  std::array<char, 256> stored = fold;
  std::array<bool, 256> special{};
  std::array<bool, 256> set{};
  if (format.Match != '\0') special[static_cast<unsigned char>(match)] = true;
  for (const auto& [symbol, expansion] : format.Equates) {
    // The key, in whichever case the cells write it.
    for (std::size_t k = 0; k < fold.size(); ++k) {
      if (fold[k] != folded(symbol)) continue;
      if (expansion.Set) {
        set[k] = special[k] = true;
      } else {
        stored[k] = folded(expansion.Symbol);
      }
    }
  }
  // Cells of several states, counted for the warning.
  std::size_t several = 0;
  Where first_several;
  auto count_several = [&](Where at) {
    if (several++ == 0) first_several = at;
  };
  auto data = Read_Matrix<char>(nx, header, [&](auto& row, const auto* first) {
    const char c = static_cast<char>(nx.Peek());
    if (c == '{' || c == '(') {
      // A polymorphic or uncertain cell: one state of several, which no
      // distance here can use; it counts as unknown.
      row.push_back(missing);
      count_several(Skip_Several(nx));
      return;
    }
    if (!plain[static_cast<unsigned char>(c)]) nx.Fail_Here("a symbol");
    // Symbols mostly stand in runs without blanks: a run is taken whole, up
    // to the end of the row.
    for (;;) {
      const std::string_view w = nx.Window(std::min(nchar - row.size(), Scan_Window));
      std::size_t k = 0;
      bool moved = false; // the cursor went past w[k]: the window is stale
      while (k < w.size() && row.size() < nchar && plain[static_cast<unsigned char>(w[k])]) {
        const auto u = static_cast<unsigned char>(w[k]);
        if (!special[u]) {
          row.push_back(stored[u]);
        } else if (set[u]) {
          nx.Advance(k);
          count_several(nx.Here());
          nx.Advance(1);
          row.push_back(missing);
          moved = true;
          break;
        } else {
          if (!first || first->size() <= row.size()) {
            nx.Advance(k);
            nx.Fail_Here("a symbol of the first taxon: there is none to match here");
          }
          row.push_back((*first)[row.size()]);
        }
        ++k;
      }
      if (moved) {
        if (row.size() == nchar || !plain[static_cast<unsigned char>(nx.Peek() < 0 ? ' ' : nx.Peek())]) return;
        continue;
      }
      nx.Advance(k);
      if (k < w.size() || row.size() == nchar || w.empty()) return;
    }
  });
  data->Declared_Missing = {missing, folded(format.Gap)};
  Warn_Several(several, first_several, "the missing symbol '" + std::string(1, missing) + "'");
  return data;
}

Real_Data_Access Get_Nexus_Numbers(Text_IO::Text_Input& file, Missing_Rule missing) {
  file.Skip_Byte_Order_Mark();
  Nexus nx(file);
  Header header;
  Read_To_Matrix(nx, header, Kind::NUMBERS);
  const char symbol = header.Format.Missing;
  auto is_missing = [&](std::string_view cell) {
    return (cell.size() == 1 && cell[0] == symbol) || Is_Missing_Value_Word(cell);
  };
  return Read_Matrix<double>(nx, header, [&](auto& row, const auto*) {
    // The numbers of the PHYLIP layouts, rounded the same way.
    std::size_t want = 64;
    std::string_view w;
    std::size_t end = 0;
    for (;;) {
      w = nx.Window(want);
      end = 0;
      while (end < w.size() && !Is_Blank(w[end]) && w[end] != '[' && w[end] != ';') ++end;
      if (end < w.size() || w.size() < want) break;
      want *= 2;
    }
    const std::string_view cell = w.substr(0, end);
    if (missing == Missing_Rule::PAIRWISE && is_missing(cell)) {
      row.push_back(std::numeric_limits<double>::quiet_NaN());
      nx.Advance(end);
      return;
    }
    Text_IO::Text_Input in(cell, Text_IO::Text_Input::Borrowed{});
    double value = 0.0;
    try {
      value = Read_Real(in);
    } catch (const Errors::Error&) {
      if (!is_missing(cell)) nx.Fail_Here("a number");
      try {
        nx.Fail_Here("a number");
      } catch (const Errors::Data_Error& e) {
        throw Generic::With_Hint<Errors::Data_Error>(e, Missing_Value_Hint);
      }
    }
    if (in.Known_Bytes_Left().value_or(0) != 0) nx.Fail_Here("a number");
    row.push_back(value);
    nx.Advance(end);
  });
}

Real_Data_Access Get_Nexus_Cells(Text_IO::Text_Input& file, const std::function<double(std::string_view)>& code,
                                 std::vector<bool>& states_named) {
  file.Skip_Byte_Order_Mark();
  Nexus nx(file);
  Header header;
  Read_Header(nx, header);
  const Layout& format = header.Format;
  const bool tokens = format.Tokens || format.Type == Kind::NUMBERS;
  const std::array<char, 256> fold = Case_Folding(format);
  auto folded = [&](char c) { return fold[static_cast<unsigned char>(c)]; };
  const char missing = folded(format.Missing), gap = folded(format.Gap), match = folded(format.Match);
  constexpr double Missing = std::numeric_limits<double>::quiet_NaN();
  std::size_t several = 0;
  Where first_several;
  auto data = Read_Matrix<double>(nx, header, [&](auto& row, const auto* first) {
    const char c = static_cast<char>(nx.Peek());
    if (c == '{' || c == '(') {
      const Where at = Skip_Several(nx);
      if (several++ == 0) first_several = at;
      row.push_back(Missing);
      return;
    }
    if (tokens) {
      const Token cell = nx.Next(true);
      const bool symbol = cell.Type == Token::WORD && cell.Text.size() == 1;
      // NA and its kin are missing here as in a table: read as a level, they
      // would turn a column of numbers nominal without a word.
      const bool missing_word = cell.Type == Token::WORD && Is_Missing_Value_Word(cell.Text);
      row.push_back(missing_word || (symbol && (cell.Text[0] == format.Missing || cell.Text[0] == format.Gap))
                        ? Missing
                        : code(cell.Text));
      return;
    }
    if (Is_Blank(c) || std::string_view("[]{}();'\"").find(c) != std::string_view::npos) nx.Fail_Here("a symbol");
    nx.Advance(1);
    const char s = folded(c);
    if (format.Match != '\0' && s == match) {
      if (!first || first->size() <= row.size()) nx.Fail_Here("a symbol of the first taxon: there is none to match here");
      row.push_back((*first)[row.size()]);
    } else {
      row.push_back(s == missing || s == gap ? Missing : code(std::string_view(&s, 1)));
    }
  });
  Warn_Several(several, first_several, "missing");
  if (data->Character_Names.empty()) {
    data->Character_Names.resize(static_cast<std::size_t>(header.Nchar));
    for (std::size_t k = 0; k < data->Character_Names.size(); ++k)
      data->Character_Names[k] = k < header.State_Label_Names.size() && !header.State_Label_Names[k].empty()
                                     ? header.State_Label_Names[k]
                                     : std::to_string(k + 1);
  }
  states_named = header.States_Named;
  states_named.resize(static_cast<std::size_t>(header.Nchar));
  return data;
}

} // namespace Karvel::Phylo::Read
