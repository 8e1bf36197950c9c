#include "write/print.hpp"

#include "write/write_hdf5.hpp"

#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "threads/parallel.hpp"
#include "threads/progress.hpp"
#include "write/print_number.hpp"
#include "write/write_hdf5.hpp"
#include "karvel/utf8.hpp"
#include "text/char_sets.hpp"

namespace Karvel::Phylo::Print {

namespace {

using Text_IO::Text_Output;

// PHYLIP keeps ten characters of a label, whatever the other labels are.
constexpr int Phylip_Width = 10;

// Both PAUP blocks close the NEXUS matrix and open the settings the same way.
constexpr std::string_view Paup_Opening =
    "\t;\n"
    "end;\n"
    "\n"
    "begin paup;\n"
    "\tset torder=left tcompress taxlabels=full outroot=monophyl\n"
    "\t\tautoclose maxtrees=1000 increase=auto autoinc=1000\n"
    "\t\tstoretreewts storebrlens rootmethod=outgroup\n"
    "\t\twarnroot=no;\n";

constexpr std::string_view Distance_Paup_Settings =
    "\tdefaults nj bionj breakties=random;\n"
    "\tdefaults upgma bionj breakties=random;\n"
    "\tdefaults contree grpfreq=no;\n"
    "\tdefaults hsearch addseq=random;\n"
    "\tdefaults savedist triangle=both;\n"
    "\tdefaults describetrees labelnode=no;\n"
    "end;\n";

// With the characters at hand PAUP can also run parsimony, distances of its
// own and the bootstrap, so the data block sets those up as well.
constexpr std::string_view Data_Paup_Settings =
    "\tpset opt=deltran collapse=minbrlen;\n"
    "\tdset dcollapse distance=hky85 missdist=ignore rates=equal\n"
    "\t\tpinvar=0;\n"
    "\tdefaults nj bionj breakties=random;\n"
    "\tdefaults upgma bionj breakties=random;\n"
    "\tdefaults bootstrap grpfreq=no;\n"
    "\tdefaults contree grpfreq=no;\n"
    "\tdefaults hsearch addseq=random;\n"
    "\tdefaults savedist triangle=both;\n"
    "\tdefaults describetrees labelnode=no;\n"
    "end;\n";

// The characters a NEXUS label cannot hold unquoted: the ASCII controls and
// the NEXUS punctuation. Bytes from 128 up are kept: they are the bytes of
// UTF-8 letters, which a replaced byte would leave broken.
const TextUtils::Character_Set& Nexus_Unfit() {
  static const TextUtils::Character_Set set =
      ~((TextUtils::Range(32, 126) | TextUtils::Range(128, 255)) &
        ~TextUtils::To_Set(" ()[]{}/\\,;:=*'\"`+-<>"));
  return set;
}

const TextUtils::Character_Mapping& Nexus_Mapping() {
  static const TextUtils::Character_Mapping mapping = TextUtils::Map_All(Nexus_Unfit(), '_');
  return mapping;
}

// Writes the `length` characters that char_at(0 .. length - 1) yields, cut
// or padded with spaces to exactly `width`.
template <class Char_At>
void Put_Padded(Text_Output& file, std::size_t length, std::size_t width, Char_At char_at) {
  char* const out = file.Reserve(width);
  const std::size_t shown = std::min(length, width);
  for (std::size_t k = 0; k < shown; ++k) out[k] = char_at(k);
  std::memset(out + shown, ' ', width - shown);
  file.Commit(width);
}

// A byte of a label in the layouts that a control would break (a line feed
// ends the record, a tab starts a column): '_' in place of the control.
char Fit(char c) { return Karvel::Utf8::Is_Control(static_cast<unsigned char>(c)) ? '_' : c; }

// The label with its spaces as underscores, padded to `width`.
void Put_Underscored(Text_Output& file, std::string_view label, std::size_t width) {
  Put_Padded(file, label.size(), width, [label](std::size_t k) { return label[k] == ' ' ? '_' : Fit(label[k]); });
}

// A count in headers: one leading space, then the decimal digits.
void Put_Count(Text_Output& file, long count) {
  char* const out = file.Reserve(24);
  out[0] = ' ';
  file.Commit(static_cast<std::size_t>(std::to_chars(out + 1, out + 24, count).ptr - out));
}

// An integer right-aligned in `field` characters, widened when longer.
void Put_Right_Aligned(Text_Output& file, long value, std::size_t field) {
  char digits[24];
  const auto length =
      static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
  if (length < field) file.Put_Spaces(field - length);
  file.Put(std::string_view(digits, length));
}

// Every value of a row, each after the separator.
void Put_Run(Text_Output& file, std::span<const double> row, int fore, int aft, int exp, char separator) {
  std::size_t k = 0;
  if (exp == 0 && aft == 8 && fore >= 0 && fore <= 16) {
    // The layout of every distance: values go straight into the buffer,
    // a batch at a time, leaving the rare value the shortcut does not take
    // to the general writer.
    constexpr std::size_t Batch = 512, Room = 48;
    while (k < row.size()) {
      const std::size_t stop = std::min(row.size(), k + Batch);
      char* const start = file.Reserve((stop - k) * Room);
      char* out = start;
      if (fore == 2 && separator == '\t')
        if (const Format::Tabbed_Writer batch = Format::Format_Kernels_Of().Put_Tabbed)
          k += batch(out, row.data() + k, stop - k);
      for (; k < stop; ++k) {
        Format::Fixed8 parts;
        const double value = row[k] == 0.0 ? 0.0 : row[k];
        if (!Format::Decompose_Fixed8(value, parts)) break;
        *out++ = separator;
        out = Format::Put_Fixed8(out, parts, fore);
      }
      file.Commit(static_cast<std::size_t>(out - start));
      if (k < stop) {
        file.Put(separator);
        Detail::Put_Number(file, row[k], fore, aft, exp);
        ++k;
      }
    }
  }
  for (; k < row.size(); ++k) {
    file.Put(separator);
    Detail::Put_Number(file, row[k], fore, aft, exp);
  }
}

// Every value of a row, each after the separator, then the end of the line.
void Put_Values(Text_Output& file, std::span<const double> row, int fore, int aft, int exp,
                char separator = '\t') {
  Put_Run(file, row, fore, aft, exp, separator);
  file.New_Line();
}

// A row of data that holds missing values: the values between them as any
// row's, each missing one as `missing`.
[[gnu::cold]] void Put_Values_With_Missing(Text_Output& file, std::span<const double> row, char separator,
                                           int fore, int aft, int exp, std::string_view missing) {
  std::size_t k = 0;
  while (k < row.size()) {
    std::size_t gap = k;
    while (gap < row.size() && !std::isnan(row[gap])) ++gap;
    Put_Run(file, row.subspan(k, gap - k), fore, aft, exp, separator);
    for (k = gap; k < row.size() && std::isnan(row[k]); ++k) {
      file.Put(separator);
      file.Put(missing);
    }
  }
  file.New_Line();
}

// The width the labels of a matrix are padded to when it is their longest
// length. All labels empty would make it 0; one space keeps the columns.
int Longest_Width(const Taxon_Labels& labels) { return std::max(Longest_Label(labels), 1); }

int Label_Width(Width_Rule rule, const Taxon_Labels& labels) {
  switch (rule) {
  case Width_Rule::PHYLIP: return Phylip_Width;
  case Width_Rule::LONGEST: return Longest_Width(labels);
  case Width_Rule::LONGEST_QUOTED: return Longest_Label(labels) + 2;
  // Nothing is padded; the width only passes the label check.
  case Width_Rule::UNPADDED: break;
  }
  return 1;
}

// One cell of a CSV or TSV table: as it is, or between double quotes with
// its quotes doubled where it holds the separator, a quote or a line break
// (RFC 4180; pandas, R and the csv readers of every language take it).
void Put_Field(Text_Output& file, std::string_view text, char separator) {
  bool plain = true;
  for (const char c : text) plain &= c != separator && c != '"' && c != '\n' && c != '\r';
  if (plain) {
    file.Put(text);
    return;
  }
  file.Put('"');
  for (const char c : text) {
    if (c == '"') file.Put('"');
    file.Put(c);
  }
  file.Put('"');
}

// A NEXUS word: as it is when it holds only letters, digits and the
// punctuation a word may hold, else between single quotes with its quotes
// doubled; a control, which no NEXUS reader takes inside a word, as '_'.
void Put_Nexus_Word(Text_Output& file, std::string_view text) {
  bool plain = !text.empty();
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    plain &= (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
             u >= 128;
  }
  if (plain) {
    file.Put(text);
    return;
  }
  file.Put('\'');
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\'') file.Put('\'');
    file.Put(u < 32 || u == 127 ? '_' : c);
  }
  file.Put('\'');
}

void Put_Nexus_Opening(Text_Output& file, std::string_view block) {
  file.Put("#NEXUS\n\nbegin ");
  file.Put(block);
  file.Put(";\n\tdimensions ");
}

} // namespace

// --- The label styles: their writers, then their table.

namespace {

void Underscored_Label(Text_Output& file, const std::string& label, int width, char) {
  Put_Underscored(file, label, static_cast<std::size_t>(width));
}

void Line_Label(Text_Output& file, const std::string& label, int, char) {
  Put_Padded(file, label.size(), label.size(), [&](std::size_t k) { return Fit(label[k]); });
  file.New_Line();
}

void Nexus_Label(Text_Output& file, const std::string& label, int width, char) {
  // Cleaned straight into the output; this is To_Nexus_Label.
  const std::string_view kept = TextUtils::Trim(label, Nexus_Unfit());
  const TextUtils::Character_Mapping& mapping = Nexus_Mapping();
  Put_Padded(file, kept.size(), static_cast<std::size_t>(width),
             [&](std::size_t k) { return mapping[static_cast<unsigned char>(kept[k])]; });
}

void Quoted_Nexus_Label(Text_Output& file, const std::string& label, int width, char) {
  // A quote inside would end the quoted label early.
  const std::size_t last = label.size() + 1;
  Put_Padded(file, label.size() + 2, static_cast<std::size_t>(width), [&](std::size_t k) {
    if (k == 0 || k == last) return '\'';
    const char c = label[k - 1];
    return c == '\'' ? '`' : c;
  });
}

void Phylip_Label(Text_Output& file, const std::string& label, int, char) {
  // Cut before a letter that would not fit whole; spaces fill the ten
  // bytes, so that readers counting bytes still find the values.
  Put_Padded(file, Karvel::Utf8::Cut(label, Phylip_Width), Phylip_Width, [&](std::size_t k) { return Fit(label[k]); });
}

void No_Label(Text_Output&, const std::string&, int, char) {}

void Field_Label(Text_Output& file, const std::string& label, int, char separator) {
  Put_Field(file, label, separator);
}

// The label is the first word of the line: blanks as underscores.
void Fasta_Label(Text_Output& file, const std::string& label, int, char) {
  file.Put('>');
  Put_Underscored(file, label, label.size());
}

void No_Data_Header(Text_Output&, const Data_Header&, char) {}

void Count_Data_Header(Text_Output& file, const Data_Header& header, char) {
  Put_Count(file, header.Taxa);
  file.Put('\t');
  Put_Count(file, header.Characters);
  file.New_Line();
}

void Nexus_Data_Header(Text_Output& file, const Data_Header& header, char) {
  Put_Nexus_Opening(file, "data");
  file.Put("ntax=");
  Put_Count(file, header.Taxa);
  file.Put(" nchar=");
  Put_Count(file, header.Characters);
  file.Put(";\n\tformat datatype=");
  switch (header.Datatype) {
  case Nexus_Datatype::CONTINUOUS: file.Put("continuous"); break;
  case Nexus_Datatype::DNA: file.Put("nucleotide gap=-"); break;
  case Nexus_Datatype::STANDARD: {
    // Readers fold the case of symbols unless told not to; a and A are
    // two states here.
    bool both_cases = false;
    for (const char c : header.Symbols)
      both_cases |= c >= 'a' && c <= 'z' && header.Symbols.find(static_cast<char>(c - 'a' + 'A')) != std::string_view::npos;
    file.Put(both_cases ? "standard respectcase symbols=\"" : "standard symbols=\"");
    file.Put(header.Symbols);
    file.Put("\" gap=-");
    break;
  }
  }
  file.Put(" missing=?;\n");
  if (!header.Names.empty()) {
    file.Put("\tcharlabels");
    for (const std::string& name : header.Names) {
      file.Put(' ');
      Put_Nexus_Word(file, name);
    }
    file.Put(";\n");
  }
  file.Put("\tmatrix\n");
}

// A header row of an empty cell and the characters' names.
void Table_Data_Header(Text_Output& file, const Data_Header& header, char separator) {
  if (!header.Names.empty()) {
    for (const std::string& name : header.Names) {
      file.Put(separator);
      Put_Field(file, name, separator);
    }
    file.New_Line();
    return;
  }
  // Without names from the input, c1, c2, ...: names in every reader (a
  // name that is a number is not, in R).
  char name[24] = {separator, 'c'};
  for (int k = 1; k <= header.Characters; ++k)
    file.Put(std::string_view(name, static_cast<std::size_t>(std::to_chars(name + 2, name + sizeof name, k).ptr - name)));
  file.New_Line();
}

// The symbols as one word after the separator.
void Word_Symbols(Text_Output& file, std::span<const char> row, char separator) {
  file.Put(separator);
  file.Put(std::string_view(row.data(), row.size()));
  file.New_Line();
}

// One symbol a cell.
void Cell_Symbols(Text_Output& file, std::span<const char> row, char separator) {
  for (const char& c : row) {
    file.Put(separator);
    Put_Field(file, std::string_view(&c, 1), separator);
  }
  file.New_Line();
}

// The sequence on the line after its label.
void Sequence_Symbols(Text_Output& file, std::span<const char> row, char) {
  file.New_Line();
  file.Put(std::string_view(row.data(), row.size()));
  file.New_Line();
}

void No_Symbols(Text_Output&, std::span<const char>, char) {}

void Number_Cells(Text_Output& file, std::span<const double> row, char separator, int fore, int aft, int exp) {
  Put_Values(file, row, fore, aft, exp, separator);
}

void No_Numbers(Text_Output&, std::span<const double>, char, int, int, int) {}

void No_Footer(Text_Output&) {}

void Nexus_Data_Footer(Text_Output& file) {
  file.Put(Paup_Opening);
  file.Put(Data_Paup_Settings);
}

using O = Output_Format;
using W = Width_Rule;

// One row per style, in the order of Output_Format. Data in CSV and TSV are
// a header row of an empty cell and the characters' names, then per taxon
// its label and its characters, one a cell; in FASTA ">label" and the
// sequence on the next line, symbols only.
// clang-format off
constexpr Style Style_Table[] = {
//  id                  name            label               width              sep   unpadded controls header             numbered datatype symbols           numbers       footer             missing
  {O::EXTENDED_PHYLIP, "extended",     Underscored_Label,  W::LONGEST,        '\t', false,   true,    Count_Data_Header, false,   false,   Word_Symbols,     Number_Cells, No_Footer,         "?"},
  {O::LABELS,          "labels",       Line_Label,         W::UNPADDED,       '\t', false,   true,    No_Data_Header,    false,   false,   No_Symbols,       No_Numbers,   No_Footer,         "?"},
  {O::NEXUS,           "nexus",        Nexus_Label,        W::LONGEST,        '\t', false,   false,   Nexus_Data_Header, true,    true,    Word_Symbols,     Number_Cells, Nexus_Data_Footer, "?"},
  {O::NEXUS_ENCLOSED,  "nexus-quoted", Quoted_Nexus_Label, W::LONGEST_QUOTED, '\t', false,   false,   Nexus_Data_Header, true,    true,    Word_Symbols,     Number_Cells, Nexus_Data_Footer, "?"},
  {O::PHYLIP,          "phylip",       Phylip_Label,       W::PHYLIP,         '\t', false,   true,    Count_Data_Header, false,   false,   Word_Symbols,     Number_Cells, No_Footer,         "?"},
  {O::RAW,             "raw",          No_Label,           W::UNPADDED,       '\t', false,   false,   No_Data_Header,    false,   false,   Word_Symbols,     Number_Cells, No_Footer,         "?"},
  {O::CSV,             "csv",          Field_Label,        W::UNPADDED,       ',',  true,    false,   Table_Data_Header, false,   false,   Cell_Symbols,     Number_Cells, No_Footer,         "NA"},
  {O::TSV,             "tsv",          Field_Label,        W::UNPADDED,       '\t', true,    false,   Table_Data_Header, false,   false,   Cell_Symbols,     Number_Cells, No_Footer,         "NA"},
  {O::FASTA,           "fasta",        Fasta_Label,        W::UNPADDED,       '\t', false,   true,    No_Data_Header,    false,   false,   Sequence_Symbols, nullptr,      No_Footer,         "?"},
};
// clang-format on

// Every style has its row at its own index. (A row that leaves out its last
// members does not compile with the warnings as errors; that each names its
// writers, which g++ cannot check at compile time under
// -fsanitize=undefined, is checked by a unit test.)
constexpr bool Styles_In_Order() {
  if (std::size(Style_Table) != static_cast<std::size_t>(Output_Format::FASTA) + 1) return false;
  for (std::size_t k = 0; k < std::size(Style_Table); ++k)
    if (static_cast<std::size_t>(Style_Table[k].Id) != k || Style_Table[k].Name.empty()) return false;
  return true;
}
static_assert(Styles_In_Order(), "every style needs its row, in the order of Output_Format");

} // namespace

std::span<const Style> Styles() { return Style_Table; }

const Style& Style_Row(Output_Format style) {
  const auto k = static_cast<std::size_t>(style);
  if (k >= std::size(Style_Table))
    throw Errors::Constraint_Error("range check failed: no label style " + std::to_string(k));
  return Style_Table[k];
}

// --- Labels

Output_Format Label_Format(Dist_Output_Format format) { return Layout_Row(format).Style; }

bool Writes_Controls_As_Underscores(Output_Format style) { return Style_Row(style).Controls_As_Underscores; }

bool Cuts_Labels(Output_Format style) { return Style_Row(style).Width == Width_Rule::PHYLIP; }

int Longest_Label(const Taxon_Labels& labels) {
  std::size_t longest = 0;
  for (const std::string& label : labels) longest = std::max(longest, label.size());
  return static_cast<int>(longest);
}

std::string To_Nexus_Label(const std::string& label) {
  return TextUtils::Translate(TextUtils::Trim(label, Nexus_Unfit()), Nexus_Mapping());
}

void Print_Label(Text_Output& file, const std::string& label, Output_Format style, int width) {
  if (width < 1)
    throw Errors::Constraint_Error("range check failed: a label width must be positive, not " +
                                   std::to_string(width));
  const Style& row = Style_Row(style);
  row.Label(file, label, width, row.Separator);
}

// --- The layouts of distances: their writers, then their table.

namespace {

void No_Header(Text_Output&, const Taxon_Labels&) {}

void Count_Header(Text_Output& file, const Taxon_Labels& labels) {
  Put_Count(file, static_cast<long>(labels.size()));
  file.New_Line();
}

void Table_Header(Text_Output& file, const Taxon_Labels& labels, char separator) {
  for (const std::string& label : labels) {
    file.Put(separator);
    Put_Field(file, label, separator);
  }
  file.New_Line();
}

// Plain functions rather than a template's instances: the table's check
// compares their addresses at compile time, which g++ cannot do for
// template instances under -fsanitize=undefined.
void Tsv_Header(Text_Output& file, const Taxon_Labels& labels) { Table_Header(file, labels, '\t'); }
void Csv_Header(Text_Output& file, const Taxon_Labels& labels) { Table_Header(file, labels, ','); }

void Nexus_Header(Text_Output& file, const Taxon_Labels& labels) {
  Put_Nexus_Opening(file, "distances");
  file.Put("newtaxa ntax=");
  Put_Count(file, static_cast<long>(labels.size()));
  file.Put(";\n\tformat triangle=both labels;\n\tmatrix\n");
}

void Tab_Header(Text_Output& file, const Taxon_Labels& labels) {
  for (const std::string& label : labels) {
    file.Put('\t');
    Put_Underscored(file, label, label.size());
  }
  file.New_Line();
}

void Label_Row(Text_Output& file, const Taxon_Labels& labels, std::size_t row, std::span<const double>,
               const Row_Layout& layout) {
  Print_Label(file, labels[row], layout.Style, layout.Width);
}

void Raw_Row(Text_Output& file, const Taxon_Labels&, std::size_t, std::span<const double> values,
             const Row_Layout& layout) {
  Put_Values(file, values, layout.Fore, layout.Aft, layout.Exp);
}

// Only the lower triangle: each pair once, the later taxon first.
void Pairs_Row(Text_Output& file, const Taxon_Labels& labels, std::size_t row, std::span<const double> values,
               const Row_Layout& layout) {
  for (std::size_t column = 0; column < row; ++column) {
    Print_Label(file, labels[row], layout.Style, layout.Width);
    file.Put('\t');
    Print_Label(file, labels[column], layout.Style, layout.Width);
    file.Put('\t');
    Detail::Put_Number(file, values[column], layout.Fore, layout.Aft, layout.Exp);
    file.New_Line();
  }
}

// The label, then the distances after the style's separator.
void Labelled_Row(Text_Output& file, const Taxon_Labels& labels, std::size_t row, std::span<const double> values,
                  const Row_Layout& layout) {
  Print_Label(file, labels[row], layout.Style, layout.Width);
  Put_Values(file, values, layout.Fore, layout.Aft, layout.Exp, Style_Row(layout.Style).Separator);
}

// The distances to the taxa before this one: none on the first row.
void Lower_Row(Text_Output& file, const Taxon_Labels& labels, std::size_t row, std::span<const double> values,
               const Row_Layout& layout) {
  Labelled_Row(file, labels, row, values.first(row), layout);
}

void Line_Footer(Text_Output& file) { file.New_Line(); }

void Nexus_Footer(Text_Output& file) {
  file.Put(Paup_Opening);
  file.Put(Distance_Paup_Settings);
}

using D = Dist_Output_Format;
using O = Output_Format;
using P = Row_Part;
using B = Binary_Output::Layout;

// One row per layout, in the order --help lists them.
// clang-format off
constexpr Layout Table[] = {
//  id                  name            alias  letter binary              dist   style                header             row           footer        open                       refusal                           part       beside pipe   apart  help
  {D::EXTENDED_PHYLIP, "extended",     "",    'X', std::nullopt,       true,  O::EXTENDED_PHYLIP, Count_Header,       Labelled_Row, No_Footer, nullptr,                  nullptr,    P::ALL,    false, true,  true,  "extended PHYLIP format (default)"},
  {D::PHYLIP,          "phylip",       "",    'P', std::nullopt,       true,  O::PHYLIP,          Count_Header,       Labelled_Row, No_Footer, nullptr,                  nullptr,    P::ALL,    false, true,  true,  "ordinary PHYLIP format"},
  {D::NEXUS,           "nexus",        "",    'N', std::nullopt,       true,  O::NEXUS,           Nexus_Header,       Labelled_Row, Nexus_Footer, nullptr,                  nullptr,    P::ALL,    false, true,  true,  "NEXUS format, labels cleaned"},
  {D::NEXUS_ENCLOSED,  "nexus-quoted", "",    'E', std::nullopt,       true,  O::NEXUS_ENCLOSED,  Nexus_Header,       Labelled_Row, Nexus_Footer, nullptr,                  nullptr,    P::ALL,    false, true,  true,  "NEXUS format, labels enclosed in single quotes"},
  {D::TAB_SEPARATED,   "tab",          "",    'T', std::nullopt,       true,  O::EXTENDED_PHYLIP, Tab_Header,         Labelled_Row, No_Footer, nullptr,                  nullptr,    P::ALL,    false, true,  true,  "tab-separated format"},
  {D::ONE_COLUMN,      "pairs",        "",    'O', std::nullopt,       true,  O::EXTENDED_PHYLIP, No_Header,          Pairs_Row,    Line_Footer, nullptr,                  nullptr,  P::BEFORE, false, true,  true,  "one-column format"},
  {D::LABELS,          "labels",       "",    'L', std::nullopt,       true,  O::LABELS,          No_Header,          Label_Row,    Line_Footer, nullptr,                  nullptr,  P::BEFORE, false, true,  true,  "Labels only"},
  {D::RAW,             "raw",          "",    'R', std::nullopt,       true,  O::RAW,             No_Header,          Raw_Row,      Line_Footer, nullptr,                  nullptr,  P::ALL,    false, true,  true,  "raw format (no labels, no header)"},
  {D::LSMAT,           "lsmat",        "tsv", 0,   std::nullopt,       true,  O::TSV,             Tsv_Header,         Labelled_Row, No_Footer, nullptr,                  nullptr,    P::ALL,    false, true,  true,  "a tab-separated table indexed by label"},
  {D::CSV,             "csv",          "",    0,   std::nullopt,       true,  O::CSV,             Csv_Header,         Labelled_Row, No_Footer, nullptr,                  nullptr,    P::ALL,    false, true,  true,  "a comma-separated table indexed by label"},
  {D::PHYLIP_LOWER,    "phylip-lower", "",    0,   std::nullopt,       true,  O::PHYLIP,          Count_Header,       Lower_Row,    No_Footer, nullptr,                  nullptr,    P::BEFORE, false, true,  true,  "the lower triangle"},
  {D::FASTA,           "fasta",        "",    0,   std::nullopt,       false, O::FASTA,           nullptr,            nullptr,      nullptr, nullptr,                  nullptr,      P::ALL,    false, true,  true,  "sequences, with -W only"},
  {D::NPY,             "npy",          "",    0,   B::NPY,             true,  O::EXTENDED_PHYLIP, nullptr,            nullptr,      nullptr, Binary_Output::Npy_Open,  nullptr,      P::ALL,    true,  true,  true,  "NumPy, n x n"},
  {D::NPY_CONDENSED,   "npy-condensed", "",   0,   B::NPY_CONDENSED,   true,  O::EXTENDED_PHYLIP, nullptr,            nullptr,      nullptr, Binary_Output::Npy_Open,  nullptr,      P::AFTER,  true,  true,  true,  "NumPy, scipy's condensed order"},
  {D::HDF5,            "hdf5",         "",    0,   B::HDF5,            true,  O::EXTENDED_PHYLIP, nullptr,            nullptr,      nullptr, Binary_Output::Hdf5_Open, Binary_Output::Hdf5_Refusal,      P::ALL,    false, false, false, "scikit-bio's BDSM"},
};
// clang-format on

// New layouts come at the end of the enumeration, each with its row, so
// the rows' enumerators are 0 .. the count less one, each once.
constexpr std::size_t Layout_Count = std::size(Table);

// Every layout has its one row, and a text row writes everything a binary
// row leaves to its writer. (That a binary row names its writer is checked
// by a unit test: the writers live in other files, whose addresses g++
// cannot compare at compile time under -fsanitize=undefined.)
constexpr bool Complete() {
  for (std::size_t k = 0; k < Layout_Count; ++k) {
    int rows = 0;
    for (const Layout& row : Table) rows += static_cast<std::size_t>(row.Id) == k;
    if (rows != 1) return false;
  }
  for (const Layout& row : Table) {
    const bool text = !row.Binary && row.Distances;
    if (row.Name.empty() || text != (row.Header != nullptr) || text != (row.Row != nullptr) ||
        text != (row.Footer != nullptr) || row.Help.empty() ||
        (row.Blocks_Apart && !row.To_Pipe))
      return false;
  }
  return true;
}
static_assert(Complete(), "every layout needs one complete row of the table");

} // namespace

std::span<const Layout> Layouts() { return Table; }

const Layout& Layout_Row(Dist_Output_Format format) {
  for (const Layout& row : Table)
    if (row.Id == format) return row;
  throw Errors::Constraint_Error("range check failed: no output layout " +
                                 std::to_string(static_cast<int>(format)));
}

const Layout& Layout_Row(Binary_Output::Layout layout) {
  for (const Layout& row : Table)
    if (row.Binary == layout) return row;
  throw Errors::Constraint_Error("range check failed: no binary layout " + std::to_string(static_cast<int>(layout)));
}

const Layout* Layout_Named(std::string_view name) {
  if (name.empty()) return nullptr;
  for (const Layout& row : Table)
    if (row.Name == name || row.Alias == name) return &row;
  return nullptr;
}

// --- Distance matrices

Row_Layout Layout_Of(const Squared& matrix, Dist_Output_Format format, int fore, int aft, int exp) {
  const int taxa = matrix.Taxa();
  if (matrix.Matrix.Size() != taxa || (taxa > 0 && matrix.Matrix.First() != 0))
    throw Errors::Constraint_Error("index check failed: the distance block covers taxa " +
                                   std::to_string(matrix.Matrix.First()) + " .. " +
                                   std::to_string(matrix.Matrix.Last()) + ", the labels 0 .. " +
                                   std::to_string(taxa - 1));
  return Layout_Of(matrix.Labels, format, fore, aft, exp);
}

namespace {

// The row of a layout whose distances are text, or why there is none.
const Layout& Text_Row(Dist_Output_Format format) {
  const Layout& row = Layout_Row(format);
  if (!row.Distances)
    throw Errors::Constraint_Error("the " + std::string(row.Name) + " layout holds character data (-W), not distances");
  if (!row.Row)
    throw Errors::Constraint_Error("the " + std::string(row.Name) + " layout is binary; its rows are not text");
  return row;
}

} // namespace

Row_Layout Layout_Of(const Taxon_Labels& labels, Dist_Output_Format format, int fore, int aft, int exp) {
  const Layout& row = Text_Row(format);
  const Style& style = Style_Row(row.Style);
  // Readers of the tables take a number as it is; blanks before it only
  // make the cell text differ from what the same value prints elsewhere.
  return {format, row.Row, row.Style, Label_Width(style.Width, labels), style.Unpadded_Numbers ? 0 : fore, aft, exp};
}

void Print_Header(Text_Output& file, const Taxon_Labels& labels, Dist_Output_Format format) {
  Text_Row(format).Header(file, labels);
}

void Put_Row(Text_Output& file, const Squared& matrix, int row, const Row_Layout& layout) {
  if (row < 0 || row >= matrix.Taxa())
    throw Errors::Constraint_Error("index check failed: taxon " + std::to_string(row) + " is outside 0 .. " +
                                   std::to_string(matrix.Taxa() - 1));
  Put_Row(file, matrix.Labels, static_cast<std::size_t>(row),
          std::span<const double>(matrix.Matrix.Row(row), matrix.Labels.size()), layout);
}

void Put_Row(Text_Output& file, const Taxon_Labels& labels, std::size_t row, std::span<const double> values,
             const Row_Layout& layout) {
  if (row >= labels.size() || values.size() != labels.size())
    throw Errors::Constraint_Error("index check failed: row " + std::to_string(row) + " of " +
                                   std::to_string(values.size()) + " distances among " +
                                   std::to_string(labels.size()) + " taxa");
  layout.Writer(file, labels, row, values, layout);
}

void Print_Footer(Text_Output& file, Dist_Output_Format format) {
  Text_Row(format).Footer(file);
}

void Put(Text_Output& file, const Squared& matrix, Dist_Output_Format format, int fore, int aft, int exp) {
  const Row_Layout layout = Layout_Of(matrix, format, fore, aft, exp);
  Print_Header(file, matrix.Labels, format);
  const int taxa = matrix.Taxa();
  const int threads = std::min(Generic::Parallel::Threads(), std::max(1, taxa / 16));
  Generic::Progress::Stage progress("writing", static_cast<std::uint64_t>(taxa), Generic::Progress::Unit::TAXA);
  if (threads <= 1) {
    for (int row = 0; row < taxa; ++row, progress.Advance(1)) Put_Row(file, matrix, row, layout);
  } else {
    // Pieces of consecutive rows, about a megabyte each, are formatted on
    // several threads and written in row order while the next ones are
    // being formatted: the text is the one a single thread writes, and only
    // a few pieces are held at any time.
    const std::size_t row_bytes = static_cast<std::size_t>(taxa) * 12 + static_cast<std::size_t>(layout.Width) + 2;
    const int rows_per_piece = static_cast<int>(std::max<std::size_t>(1, (std::size_t{1} << 20) / row_bytes));
    const int pieces = (taxa + rows_per_piece - 1) / rows_per_piece;
    Generic::Parallel::In_Order(
        pieces, threads,
        [&](int piece, std::string& text) {
          Text_Output out(&text);
          const int first = piece * rows_per_piece;
          const int last = std::min(taxa - 1, first + rows_per_piece - 1);
          for (int row = first; row <= last; ++row) Put_Row(out, matrix, row, layout);
          out.Flush();
        },
        [&](const std::string& text) {
          file.Put(text);
          progress.Advance(static_cast<std::uint64_t>(rows_per_piece));
        });
  }
  Print_Footer(file, format);
}

// --- Character data

void Print_Header(Text_Output& file, int taxa, int characters, Output_Format format,
                  Nexus_Datatype datatype, std::string_view symbols, std::span<const std::string> names) {
  const bool named = !names.empty() && names.size() == static_cast<std::size_t>(std::max(characters, 0));
  const Style& style = Style_Row(format);
  style.Header(file, {taxa, characters, datatype, symbols, named ? names : std::span<const std::string>()},
               style.Separator);
}

Nexus_Datatype Nexus_Datatype_Of(const Disc_Data& data, bool binary, std::string& symbols) {
  bool used[256] = {};
  for (int taxon = 0; taxon < data.Taxa(); ++taxon)
    for (const char c : data.Matrix.Row(taxon)) used[static_cast<unsigned char>(c)] = true;
  symbols.clear();
  if (!binary) {
    // The IUPAC nucleotide codes, the gap and the missing symbol.
    constexpr std::string_view nucleotide = "ACGTURYSWKMBDHVNacgturyswkmbdhvn-?";
    bool all = true;
    for (int c = 0; c < 256; ++c)
      all &= !used[c] || nucleotide.find(static_cast<char>(c)) != std::string_view::npos;
    if (all) return Nexus_Datatype::DNA;
  } else {
    used[static_cast<unsigned char>('0')] = used[static_cast<unsigned char>('1')] = true;
  }
  used[static_cast<unsigned char>('?')] = used[static_cast<unsigned char>('-')] = false;
  for (int c = 0; c < 256; ++c)
    if (used[c]) symbols.push_back(static_cast<char>(c));
  return Nexus_Datatype::STANDARD;
}

void Print_Numbers(Text_Output& file, int characters, int width) {
  if (width < 1)
    throw Errors::Constraint_Error("range check failed: a label width must be positive, not " +
                                   std::to_string(width));
  // The last block is the first one whose number exceeds the characters.
  const long last = (static_cast<long>(std::max(characters, 0)) / 10 + 1) * 10;
  const auto opening = [&] {
    file.Put('[');
    file.Put_Spaces(static_cast<std::size_t>(width) - 1);
    file.Put('\t');
  };
  opening();
  for (long k = 10; k <= last; k += 10) Put_Right_Aligned(file, k, 10);
  file.Put("]\n");
  opening();
  for (long k = 10; k <= last; k += 10) file.Put("         .");
  file.Put("]\n");
}

void Print_Footer(Text_Output& file, Output_Format format) { Style_Row(format).Footer(file); }

namespace {

// The steps shared by both kinds of data; put_row_values writes the values
// of one row after the label and ends the line.
template <class Data, class Put_Row_Values>
void Put_Data(Text_Output& file, const Data& data, const Style& style, Nexus_Datatype datatype,
              std::string_view symbols, Put_Row_Values put_row_values) {
  if (data.Labels.empty())
    throw Errors::Constraint_Error("index check failed: character data without taxa cannot be written");
  const int characters = data.Matrix.Row_Length(0);
  Print_Header(file, static_cast<int>(data.Labels.size()), characters, style.Id, datatype, symbols,
               data.Character_Names);
  const int width = Label_Width(style.Width, data.Labels);
  if (style.Numbered) Print_Numbers(file, characters, width);
  for (int taxon = 0; taxon < data.Taxa(); ++taxon) {
    style.Label(file, data.Labels[static_cast<std::size_t>(taxon)], width, style.Separator);
    put_row_values(data.Matrix.Row(taxon));
  }
  style.Footer(file);
}

} // namespace

void Put(Text_Output& file, const Disc_Data& data, Output_Format format, bool binary) {
  const Style& style = Style_Row(format);
  std::string symbols;
  const Nexus_Datatype datatype =
      style.Declares_Datatype ? Nexus_Datatype_Of(data, binary, symbols) : Nexus_Datatype::DNA;
  const Symbol_Row_Writer put_symbols = style.Symbols;
  Put_Data(file, data, style, datatype, symbols,
           [&](std::span<const char> row) { put_symbols(file, row, style.Separator); });
}

void Put(Text_Output& file, const Real_Data& data, Output_Format format, int fore, int aft, int exp) {
  const Style& style = Style_Row(format);
  if (!style.Numbers)
    throw Errors::Constraint_Error("the " + std::string(style.Name) +
                                   " layout holds symbols; continuous characters cannot be written in it");
  const Number_Row_Writer put_numbers = style.Numbers;
  // The tables take numbers without blanks, as the distance tables do.
  const int shown_fore = style.Unpadded_Numbers ? 0 : fore;
  Put_Data(file, data, style, Nexus_Datatype::CONTINUOUS, {}, [&](std::span<const double> row) {
    if (style.Numbers == Number_Cells && std::any_of(row.begin(), row.end(), [](double x) { return std::isnan(x); }))
      Put_Values_With_Missing(file, row, style.Separator, shown_fore, aft, exp, style.Missing);
    else
      put_numbers(file, row, style.Separator, shown_fore, aft, exp);
  });
}

} // namespace Karvel::Phylo::Print
