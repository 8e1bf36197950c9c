#include "driver/options_table.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver/karvel.hpp"
#include "read/read_mixed.hpp"
#include "write/print.hpp"

namespace Karvel::Options {

namespace {

using Phylo::Print::Dist_Output_Format;
using Phylo::Read::Input_Format;
using Phylo::Real_Chars::Ties;
using Phylo::Real_Chars::Transformation;

namespace Formulas = Phylo::Distfunc::Formulas;

// The action of an option that sets one field to one value.
template <class Field, class Value>
auto Set(Field Run_Settings::*field, Value value) {
  return [field, value](Run_Settings& s, std::string_view) { s.*field = value; };
}

// --memory=SIZE: bytes, or K, M, G or T of them (powers of 1024).
void Apply_Mixed_Types(Run_Settings& s, std::string_view value) {
  if (value.empty()) throw Errors::Usage_Error("'--types' needs a letter for each character");
  Phylo::Read::Check_Mixed_Types(value);
  s.Mixed_Types = std::string(value);
}

// Weights as R's daisy takes them: any finite number >= 0, a zero leaving
// its character out.
void Apply_Mixed_Weights(Run_Settings& s, std::string_view value) {
  std::vector<double> weights;
  std::size_t k = 1;
  for (std::string_view rest = value;; ++k) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    double w = 0.0;
    const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), w);
    if (item.empty() || error != std::errc() || end != item.data() + item.size() || !(w >= 0.0) ||
        w > std::numeric_limits<double>::max())
      throw Errors::Usage_Error("--weights: weight " + std::to_string(k) + ", '" + std::string(item) +
                                "', is not a finite number >= 0");
    weights.push_back(w);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  s.Mixed_Weights = std::move(weights);
}

std::size_t Memory_Size(std::string_view value) {
  std::uint64_t number = 0;
  const char* const end = value.data() + value.size();
  const auto [at, ec] = std::from_chars(value.data(), end, number);
  int shift = at == end ? 0 : -1;
  if (at + 1 == end) {
    const std::size_t k = std::string_view("KMGT").find(*at);
    if (k != std::string_view::npos) shift = 10 * static_cast<int>(k + 1);
  }
  if (ec != std::errc() || shift < 0 || number > (std::numeric_limits<std::size_t>::max() >> shift))
    throw Errors::Usage_Error("invalid value '" + std::string(value) +
                              "' for '--memory' (a number of bytes, or of K, M, G or T: powers of 1024)");
  return static_cast<std::size_t>(number) << shift;
}

// --rows=A:B and --part=I/K: two whole numbers and what stands between.
std::pair<long, long> Two_Numbers(std::string_view option, std::string_view value, char between,
                                  const char* form, long least) {
  const std::size_t at = value.find(between);
  if (at == std::string_view::npos)
    throw Errors::Usage_Error("invalid value '" + std::string(value) + "' for '" + std::string(option) + "' (" +
                              form + ")");
  const long most = std::numeric_limits<int>::max();
  return {Whole_Number(option, value.substr(0, at), least, most), Whole_Number(option, value.substr(at + 1), least, most)};
}

Phylo::Pipeline::Row_Range Row_Range_Of(std::string_view value) {
  const auto [first, past] = Two_Numbers("--rows", value, ':', "A:B, rows A to B - 1 from 0", 0);
  if (past < first)
    throw Errors::Usage_Error("invalid value '" + std::string(value) + "' for '--rows' (A:B with A <= B)");
  return {static_cast<int>(first), static_cast<int>(past)};
}

std::pair<int, int> Part_Of_Run(std::string_view value) {
  const auto [part, parts] = Two_Numbers("--part", value, '/', "I/K, part I of K", 1);
  if (part > parts)
    throw Errors::Usage_Error("invalid value '" + std::string(value) + "' for '--part' (I/K with I <= K)");
  return {static_cast<int>(part), static_cast<int>(parts)};
}

// An output layout letter, or a text --to value: the text layout, and no
// binary one, so that the leftmost of the letters and --to wins.
auto Set_Layout(Dist_Output_Format format) {
  return [format](Run_Settings& s, std::string_view) {
    s.Output = format;
    s.Binary_Output.reset();
  };
}

// The names --to takes, in the order of the layouts' table.
const std::vector<std::string_view>& To_Values() {
  static const std::vector<std::string_view> values = [] {
    std::vector<std::string_view> names;
    for (const Phylo::Print::Layout& row : Phylo::Print::Layouts()) {
      names.push_back(row.Name);
      if (!row.Alias.empty()) names.push_back(row.Alias);
    }
    return names;
  }();
  return values;
}

void Apply_To(Run_Settings& s, std::string_view value) {
  const Phylo::Print::Layout& row = *Phylo::Print::Layout_Named(One_Of("--to", value, To_Values()));
  if (row.Binary)
    s.Binary_Output = *row.Binary;
  else
    Set_Layout(row.Id)(s, value);
}

// --to's help: the layouts of the letters by name, then each other layout
// with what it is.
std::string To_Help() {
  std::string lettered, text, binary;
  for (const Phylo::Print::Layout& row : Phylo::Print::Layouts()) {
    if (row.Letter != 0) {
      lettered += (lettered.empty() ? "" : ", ") + std::string(row.Name);
      continue;
    }
    std::string& list = row.Binary ? binary : text;
    list += (list.empty() ? "" : ", ") + std::string(row.Name);
    if (!row.Alias.empty()) list += " or " + std::string(row.Alias);
    list += " (" + std::string(row.Help) + (row.To_Pipe ? ")" : "; --output=FILE only)");
  }
  return "output layout: a letter's by name (" + lettered + "), " + text +
         "; binary, to --output=FILE or a pipe: " + binary;
}

// The letters of the layouts, and -W among them, in the order of the
// alphabet as the usage lists them.
void Add_Layout_Letters(std::vector<Option>& options) {
  std::vector<Option> letters{
      {'W', "", "", {}, "Print input data, not distances", Section::OUTPUT_FORMAT, Set(&Run_Settings::Print_Data, true)}};
  for (const Phylo::Print::Layout& row : Phylo::Print::Layouts())
    if (row.Letter != 0)
      letters.push_back({row.Letter, "", "", {}, std::string(row.Help), Section::OUTPUT_FORMAT, Set_Layout(row.Id)});
  std::sort(letters.begin(), letters.end(), [](const Option& a, const Option& b) { return a.Letter < b.Letter; });
  for (Option& letter : letters) options.push_back(std::move(letter));
}

// --ties's values, the default first.
constexpr std::pair<std::string_view, Ties> Ties_Rules[] = {{"heap", Ties::HEAP}, {"average", Ties::AVERAGE}};

std::vector<std::string_view> Ties_Names() {
  std::vector<std::string_view> names;
  for (const auto& [name, rule] : Ties_Rules) names.push_back(name);
  return names;
}

void Apply_Ties(Run_Settings& s, std::string_view value) {
  const std::string_view name = One_Of("--ties", value, Ties_Names());
  for (const auto& [known, rule] : Ties_Rules)
    if (known == name) s.Ties = rule;
}

std::vector<std::string_view> Input_Format_Names() {
  std::vector<std::string_view> names;
  for (const auto& format : Phylo::Read::Input_Format_Names) names.push_back(format.Name);
  return names;
}

void Apply_From(Run_Settings& s, std::string_view value) {
  const std::string_view name = One_Of("--from", value, Input_Format_Names());
  for (const auto& [known, format] : Phylo::Read::Input_Format_Names)
    if (known == name) s.Format = format;
}

std::string From_Help() {
  std::string names;
  for (std::string_view name : Input_Format_Names()) names += (names.empty() ? "" : ", ") + std::string(name);
  return "input format: " + names + " (default extended; -1 -2 -3 are the first three)";
}

// To add an option: its row here and the field of Run_Settings it sets. A
// long option that takes a value names it (N, FILE, FORMAT; FILE completes
// file names) and lists its values where they are a fixed set; its action
// refuses a bad value with Errors::Usage_Error (Whole_Number and One_Of do):
//   {0, "decimals", "N", {}, "print N decimals", S::OUTPUT_FORMAT,
//    [](Run_Settings& s, std::string_view v) { s.Decimals = Whole_Number("--decimals", v, 0, 17); }},
// --help, the man page and the bash completion follow by themselves. Rows
// with a letter are the plain usage, in this order within their section:
// scripts and tests compare that text byte for byte. Letters take no value
// and stay unique; the lower-case ones belong to the distance formulae.
std::vector<Option> Table() {
  using S = Section;
  std::vector<Option> all{
      {'1', "", "", {}, "ordinary PHYLIP format", S::INPUT_FORMAT, Set(&Run_Settings::Format, Input_Format::PHYLIP)},
      {'2', "", "", {}, "extended PHYLIP format (default)", S::INPUT_FORMAT,
       Set(&Run_Settings::Format, Input_Format::EXTENDED_PHYLIP)},
      {'3', "", "", {}, "commented PHYLIP format", S::INPUT_FORMAT,
       Set(&Run_Settings::Format, Input_Format::COMMENTED_PHYLIP)},
      {0, "from", "FORMAT", Input_Format_Names(), From_Help(), S::INPUT_FORMAT, Apply_From},
      {0, "encoding", "NAME", {"utf-8", "latin-1"},
       "the encoding of labels and names: utf-8 (the default) or latin-1 (ISO 8859-1, converted to UTF-8)",
       S::INPUT_FORMAT, [](Run_Settings& s, std::string_view v) {
         s.Latin1_Labels = One_Of("--encoding", v, {"utf-8", "latin-1"}) == "latin-1";
       }},
      {0, "labels", "WHERE", {"first", "none"},
       "where a table's labels are: first (the first column, the default) or none (every column is a character; "
       "the taxa are named 1, 2, ...)",
       S::INPUT_FORMAT,
       [](Run_Settings& s, std::string_view v) { s.Table.labels = One_Of("--labels", v, {"first", "none"}) == "first"; }},
      {0, "decimal", "MARK", {"point", "comma"},
       "the decimal mark of a tab-separated table's numbers: point (the default) or comma (--from=csv2 always "
       "reads commas)",
       S::INPUT_FORMAT,
       [](Run_Settings& s, std::string_view v) {
         s.Table.decimal_comma = One_Of("--decimal", v, {"point", "comma"}) == "comma";
       }},

      {0, "missing", "RULE", {"error", "pairwise"},
       "what a missing value (NA, ?, NaN, an empty cell) does: error (the default; continuous data may not hold one, "
       "and every discrete symbol is a state) or pairwise (each pair of taxa is compared over the characters "
       "present in both)",
       S::INPUT_FORMAT,
       [](Run_Settings& s, std::string_view v) {
         s.Missing = One_Of("--missing", v, {"error", "pairwise"}) == "pairwise" ? Phylo::Missing_Rule::PAIRWISE
                                                                                 : Phylo::Missing_Rule::ERROR;
       }},

      {0, "missing-symbols", "LIST",
       {},
       "under --missing=pairwise, the discrete symbols in LIST (e.g. X*) are missing cells too, besides ? and -, "
       "a NEXUS file's MISSING and GAP, and a nucleotide matrix's ambiguity codes",
       S::INPUT_FORMAT,
       [](Run_Settings& s, std::string_view v) {
         if (v.empty()) throw Errors::Usage_Error("'--missing-symbols' needs at least one symbol");
         for (const char c : v)
           if (TextUtils::Is_In(c, Phylo::Whitespace()))
             throw Errors::Usage_Error("'--missing-symbols' takes symbols, not blanks or control characters");
         s.Missing_Symbols = std::string(v);
       }},

      {'B', "", "", {}, "binary characters", S::INPUT_DATATYPE, Set(&Run_Settings::Datatype, Input_Datatype::BINARY)},
      {'C', "", "", {}, "continuous characters (real numbers; default)", S::INPUT_DATATYPE,
       Set(&Run_Settings::Datatype, Input_Datatype::CONTINUOUS)},
      {'D', "", "", {}, "discrete characters", S::INPUT_DATATYPE,
       Set(&Run_Settings::Datatype, Input_Datatype::DISCRETE)},
      {0, "mixed", "", {},
       "mixed characters: a table (--from=csv, tsv or csv2) or NEXUS matrix (--from=nexus) whose columns each have a type, compared by Gower's "
       "general coefficient; a pair with no character present in both has no distance",
       S::INPUT_DATATYPE, Set(&Run_Settings::Datatype, Input_Datatype::MIXED)},
      {0, "types", "LIST", {},
       "the type of each mixed character, one letter each: c (continuous), o (ordinal), n (nominal), s (symmetric "
       "binary), a (asymmetric binary); by default numbers are continuous and other texts nominal",
       S::INPUT_DATATYPE, Apply_Mixed_Types},
      {0, "weights", "LIST", {}, "the weight of each mixed character, comma-separated numbers >= 0 (default 1 each)",
       S::INPUT_DATATYPE, Apply_Mixed_Weights},

      {'A', "", "", {}, "Ranging (divide through column maximum)", S::TRANSFORMATION,
       Set(&Run_Settings::Transformation, Transformation::RANGING)},
      {'F', "", "", {}, "Row-wise fractions", S::TRANSFORMATION,
       Set(&Run_Settings::Transformation, Transformation::ROW_FRACTIONS)},
      {'G', "", "", {}, "Column-wise fractions", S::TRANSFORMATION,
       Set(&Run_Settings::Transformation, Transformation::COLUMN_FRACTIONS)},
      {'K', "", "", {}, "Row-wise ranks", S::TRANSFORMATION, Set(&Run_Settings::Transformation, Transformation::RANKS)},
      {'I', "", "", {}, "Ranging (as -A, but also subtract minimum)", S::TRANSFORMATION,
       Set(&Run_Settings::Transformation, Transformation::FULL_RANGING)},
      {'S', "", "", {}, "Standardization (divide through column standard deviations)", S::TRANSFORMATION,
       Set(&Run_Settings::Transformation, Transformation::Z_SCORES),
       "Standardization (divide through column variances)"},
      {'Z', "", "", {}, "Z scores (as -S, but also subtract mean)", S::TRANSFORMATION,
       Set(&Run_Settings::Transformation, Transformation::FULL_Z_SCORES)},
      {0, "ties", "RULE", Ties_Names(),
       "how the ranks of -K and -s treat equal values: heap (the default; distinct ranks from 0, ties in the "
       "order a heap sort leaves them) or average (ranks from 1, equal values sharing the mean of their ranks, "
       "as R's rank() and scipy's rankdata give them)",
       S::TRANSFORMATION, Apply_Ties},
  };
  Add_Layout_Letters(all);
  all.insert(all.end(), {
      {0, "to", "FORMAT", To_Values(), To_Help(), S::OUTPUT_FORMAT, Apply_To},
      {0, "decimals", "N", {}, "write numbers with N digits after the point (0 to 17; default 8)", S::OUTPUT_FORMAT,
       [](Run_Settings& s, std::string_view value) {
         s.Aft = Phylo::Print::Aft_Of_Decimals(
             static_cast<int>(Whole_Number("--decimals", value, 0, Phylo::Print::Max_Decimals)));
       }},
      {0, "exact", "", {}, "write the shortest number that reads back to the same value", S::OUTPUT_FORMAT,
       Set(&Run_Settings::Aft, Phylo::Print::Shortest_Aft)},
      {0, "output", "FILE", {},
       "write to FILE, which is replaced only when the run succeeds; beside an npy file its labels, FILE.labels.txt",
       S::OUTPUT_FORMAT, [](Run_Settings& s, std::string_view v) {
         if (v.empty()) throw Errors::Usage_Error("'--output' needs a file name");
         s.Output_File = std::string(v);
       }},
      {0, "undefined", "WHAT", {"error", "nan"},
       "a pair without a distance ends the run (error, the default) or is written as NaN, with one warning (nan)",
       S::OUTPUT_FORMAT, [](Run_Settings& s, std::string_view v) {
         s.Undefined_As_NaN = One_Of("--undefined", v, {"error", "nan"}) == "nan";
       }},

      {0, "help", "", {}, "print this help and exit", S::RUN,
       Set(&Run_Settings::Action, Run_Action::HELP)},
      {0, "version", "", {}, "print the version and exit", S::RUN,
       Set(&Run_Settings::Action, Run_Action::VERSION)},
      {0, "threads", "N", {}, "use N threads (1 to 1024); wins over KARVEL_THREADS", S::RUN,
       [](Run_Settings& s, std::string_view value) {
         s.Threads = static_cast<int>(Whole_Number("--threads", value, 1, 1024));
       }},
      {0, "progress", "", {}, "show progress on standard error, also where it is no terminal", S::RUN,
       Set(&Run_Settings::Progress, Generic::Progress::Mode::ON)},
      {0, "no-progress", "", {}, "never show progress", S::RUN,
       Set(&Run_Settings::Progress, Generic::Progress::Mode::OFF)},
      {0, "memory", "SIZE", {},
       "hold at most SIZE bytes of distances (K, M, G: powers of 1024; default 1G); a bigger matrix is written as its rows are computed",
       S::RUN, [](Run_Settings& s, std::string_view value) { s.Memory = Memory_Size(value); }},
      {0, "rows", "A:B", {}, "write only rows A to B-1 (from 0) of each distance matrix", S::RUN,
       [](Run_Settings& s, std::string_view value) {
         s.Rows = Row_Range_Of(value);
         s.Part.reset();
       }},
      {0, "part", "I/K", {}, "write only part I of K of each distance matrix, the parts having about as many pairs", S::RUN,
       [](Run_Settings& s, std::string_view value) {
         s.Part = Part_Of_Run(value);
         s.Rows.reset();
       }},
  });
  return all;
}

// Each family's label for the letter, "-" where it has none.
template <class Table>
std::string Label(const Table& table, char letter) {
  for (const auto& row : table)
    if (row.Letter == letter) return std::string(row.Label) + (row.Default ? "*" : "");
  return "-";
}

template <class Table>
const auto* Row_With(const Table& table, char letter) {
  for (const auto& row : table)
    if (row.Letter == letter) return &row;
  return static_cast<decltype(&table[0])>(nullptr);
}

// A distance letter sets the formula of each family that has one for it,
// and the transformation its real formula implies; the others keep theirs.
void Apply_Distance_Letter(char letter, Run_Settings& s) {
  if (const auto* binary = Row_With(Formulas::Binary, letter)) s.Binary_Formula = binary->Value;
  if (const auto* discrete = Row_With(Formulas::Discrete, letter)) s.Discrete_Formula = discrete->Value;
  if (const auto* real = Row_With(Formulas::Real, letter)) {
    s.Real_Formula = real->Value;
    if (real->Implied) s.Implied_Transformation = real->Implied;
  }
}

// The distance letters in the order of the alphabet, their help the labels
// of the three families.
void Add_Distance_Letters(std::vector<Option>& options) {
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    if (!Row_With(Formulas::Binary, letter) && !Row_With(Formulas::Discrete, letter) &&
        !Row_With(Formulas::Real, letter))
      continue;
    options.push_back({letter, "", "", {},
                       Label(Formulas::Binary, letter) + "/" + Label(Formulas::Discrete, letter) + "/" +
                           Label(Formulas::Real, letter),
                       Section::DISTANCE,
                       [letter](Run_Settings& s, std::string_view) { Apply_Distance_Letter(letter, s); }});
  }
}

} // namespace

std::string_view Title(Section section) {
  switch (section) {
  case Section::INPUT_FORMAT: return "Input format";
  case Section::INPUT_DATATYPE: return "Input datatype";
  case Section::DISTANCE: return "Distance formulae (Binary/Discrete/Real, * = default)";
  case Section::TRANSFORMATION: return "Transformation of continuous characters (default: none)";
  case Section::OUTPUT_FORMAT: return "Output format";
  case Section::RUN: return "Running";
  }
  return "";
}

const std::vector<Option>& All() {
  static const std::vector<Option> options = [] {
    std::vector<Option> all = Table();
    Add_Distance_Letters(all);
    return all;
  }();
  return options;
}

long Whole_Number(std::string_view option, std::string_view value, long least, long most) {
  long number = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (ec != std::errc() || end != value.data() + value.size() || number < least || number > most)
    throw Errors::Usage_Error("invalid value '" + std::string(value) + "' for '" + std::string(option) +
                              "' (a whole number from " + std::to_string(least) + " to " +
                              std::to_string(most) + ")");
  return number;
}

std::string_view One_Of(std::string_view option, std::string_view value,
                        const std::vector<std::string_view>& values) {
  std::string known;
  for (std::string_view v : values) {
    if (v == value) return v;
    known += (known.empty() ? "" : ", ") + std::string(v);
  }
  throw Errors::Usage_Error("invalid value '" + std::string(value) + "' for '" + std::string(option) + "' (one of " +
                            known + ")");
}

} // namespace Karvel::Options
