#pragma once
// Writing distance matrices and character data.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "text/text_io.hpp"
#include "write/write_binary.hpp"
#include "karvel/karvel.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Print {

// A layout of distances, one row of Layouts() each: the library's
// enumeration, which covers every layout the program writes.
// The tables (LSMAT, CSV) are written for other programs to read by label:
// no padding anywhere, values without leading blanks, a label quoted (RFC
// 4180: between double quotes, a quote doubled) only where it holds the
// separator, a double quote or a line break. LSMAT is the tab-separated
// table, its header a tab and the labels. PHYLIP_LOWER is the lower
// triangle without the diagonal, labels and values as in PHYLIP. FASTA is a
// layout of character data only; distances cannot be written in it.
using Dist_Output_Format = Karvel::Lib::Output_Layout;
// The label styles, which are also the layouts character data are written
// in (-W); one row of Styles() each.
enum class Output_Format { EXTENDED_PHYLIP, LABELS, NEXUS, NEXUS_ENCLOSED, PHYLIP, RAW, CSV, TSV, FASTA };

// The NEXUS data type written in the header of character data: DNA when
// every symbol is a nucleotide code, STANDARD with the symbols used
// otherwise (always for binary characters).
enum class Nexus_Datatype { CONTINUOUS, DNA, STANDARD };

// The number layout of all real output: Fore characters at least before the
// point, Aft digits after it, no exponent.
inline constexpr int Default_Fore = 2;
inline constexpr int Default_Aft = 8;
inline constexpr int Default_Exp = 0;

// Aft values that are not a count of digits after the point: the number
// rounded to a whole one and written without a point (an Aft of 0 keeps one
// digit, as every layout has), and the shortest text that reads back to the
// same double (fixed or scientific, whichever is shorter).
inline constexpr int No_Point_Aft = -1;
inline constexpr int Shortest_Aft = -2;
// The most decimals a user can ask for: for values of the usual size of
// distances (around 1) 17 decimals already hold every digit that tells two
// doubles apart; --exact keeps every value of any size.
inline constexpr int Max_Decimals = 17;
// The Aft that writes `decimals` (0 .. Max_Decimals) digits after the point.
constexpr int Aft_Of_Decimals(int decimals) { return decimals == 0 ? No_Point_Aft : decimals; }

// The label style of each distance format, which is also the layout the
// character data are printed in (-W) when distances would be printed in it
// (the binary layouts refuse -W before anything is read).
Output_Format Label_Format(Dist_Output_Format format);
// Whether the layout writes the controls of labels (line feeds, tabs) as
// '_': those that write labels bare. The tables quote them; NEXUS cleans
// its labels or quotes them.
bool Writes_Controls_As_Underscores(Output_Format style);
// Whether the style cuts labels to a fixed width, so that two labels may
// come out the same.
bool Cuts_Labels(Output_Format style);

// A distance matrix, header to footer.
void Put(Text_IO::Text_Output& file, const Squared& matrix, Dist_Output_Format format, int fore,
         int aft, int exp);
// Character data (-W).
// Binary data declare the NEXUS symbols 0 and 1 whatever else they hold.
void Put(Text_IO::Text_Output& file, const Disc_Data& data, Output_Format format, bool binary = false);
void Put(Text_IO::Text_Output& file, const Real_Data& data, Output_Format format, int fore, int aft,
         int exp);

// One label in a style, padded (or cut) to `width`.
void Print_Label(Text_IO::Text_Output& file, const std::string& label, Output_Format style, int width);
// The label with the characters NEXUS cannot take trimmed and replaced.
std::string To_Nexus_Label(const std::string& label);
// The length of the longest label, 0 when there are none.
int Longest_Label(const Taxon_Labels& labels);

// --- The steps of a distance matrix, for callers that write the body
// themselves (for instance row by row into separate buffers): the header,
// then Put_Row for every taxon in order, then the footer is exactly what Put
// writes.

// What every body line of one matrix shares: the format, its label style,
// the label width and the number layout.
struct Row_Layout;
using Row_Writer = void (*)(Text_IO::Text_Output& file, const Taxon_Labels& labels, std::size_t row,
                            std::span<const double> values, const Row_Layout& layout);
struct Row_Layout {
  Dist_Output_Format Format;
  Row_Writer Writer;
  Output_Format Style;
  int Width;
  int Fore;
  int Aft;
  int Exp;
};
// Works out the layout of a matrix once; the block must cover the labels'
// taxa (Constraint_Error otherwise).
Row_Layout Layout_Of(const Squared& matrix, Dist_Output_Format format, int fore, int aft, int exp);
// The same from the labels alone, for rows of distances held elsewhere.
Row_Layout Layout_Of(const Taxon_Labels& labels, Dist_Output_Format format, int fore, int aft, int exp);

void Print_Header(Text_IO::Text_Output& file, const Taxon_Labels& labels, Dist_Output_Format format);
// The body lines of taxon `row` (from 0): its label and its row of
// distances, or in ONE_COLUMN its pairs with every taxon before it.
void Put_Row(Text_IO::Text_Output& file, const Squared& matrix, int row, const Row_Layout& layout);
// The same for the taxon labels[row] (row counted from 0) and its distances
// to every taxon, `values`, one for each label.
void Put_Row(Text_IO::Text_Output& file, const Taxon_Labels& labels, std::size_t row,
             std::span<const double> values, const Row_Layout& layout);
void Print_Footer(Text_IO::Text_Output& file, Dist_Output_Format format);

// --- The layouts of distances, one row each.

using Header_Writer = void (*)(Text_IO::Text_Output& file, const Taxon_Labels& labels);
// A Row_Writer writes the body lines of taxon labels[row] from its
// distances to every taxon; the text may depend only on the labels, the row
// and these values, as the streaming writer writes rows as they come.
using Footer_Writer = void (*)(Text_IO::Text_Output& file);

struct Layout {
  Dist_Output_Format Id;
  // The --to names: the layout's own, then an alias or "".
  std::string_view Name;
  std::string_view Alias;
  // The option letter that picks it, 0 for none.
  char Letter;
  // Set for the binary layouts, which the text writers below do not write:
  // the layout of Binary_Output's writers.
  std::optional<Binary_Output::Layout> Binary;
  // False for a layout of character data only (-W), which refuses distances.
  bool Distances;
  // How labels are written, their width and the padding of numbers, which
  // is also what -W writes the data in (binary layouts refuse -W).
  Output_Format Style;
  // Text layouts of distances only (null in the others).
  Header_Writer Header;
  Row_Writer Row;
  Footer_Writer Footer;
  // Binary layouts only: the writer of a matrix, and why this run cannot
  // write the layout (null: it always can; an empty text: it can now).
  Binary_Output::Opener Open;
  std::string (*Refusal)();
  // The distances of a row the layout shows, which is how --part shares out
  // its rows and what blocks of rows need to compute.
  Row_Part Part;
  // FILE.labels.txt is written beside --output=FILE.
  bool Labels_Beside;
  // Can go to standard output when that is not a terminal (a pipe, a file).
  bool To_Pipe;
  // Blocks of rows may be written apart, at places fixed by the number of
  // taxa: karvel_mpi's ranks can write it into one file.
  bool Blocks_Apart;
  // What the layout is: the letter's help, or a few words after the name
  // in --to's help.
  std::string_view Help;
};

// Every layout, in the order --help lists them; Layouts()[k].Id is layout k.
std::span<const Layout> Layouts();
const Layout& Layout_Row(Dist_Output_Format format);
// The row of a binary writer's layout.
const Layout& Layout_Row(Binary_Output::Layout layout);
// The layout --to=name picks, or none.
const Layout* Layout_Named(std::string_view name);

// --- The label styles and the layouts of character data (-W), one row each.

// The width labels are padded (or cut) to: the ten of PHYLIP, the longest
// label (at least 1), the longest with its two quotes, or 1 (tables and
// the styles that pad nothing).
enum class Width_Rule { PHYLIP, LONGEST, LONGEST_QUOTED, UNPADDED };

// What the header of character data says; Names is empty unless it holds
// one name for each character.
struct Data_Header {
  int Taxa;
  int Characters;
  Nexus_Datatype Datatype;
  std::string_view Symbols;
  std::span<const std::string> Names;
};

// Each writer gets the style's separator, which only some of them use.
using Label_Writer = void (*)(Text_IO::Text_Output& file, const std::string& label, int width, char separator);
using Data_Header_Writer = void (*)(Text_IO::Text_Output& file, const Data_Header& header, char separator);
// A row of data after its label, the end of its line included; called once
// a row, so that the symbols and numbers themselves are written inline.
using Symbol_Row_Writer = void (*)(Text_IO::Text_Output& file, std::span<const char> row, char separator);
using Number_Row_Writer = void (*)(Text_IO::Text_Output& file, std::span<const double> row, char separator,
                                   int fore, int aft, int exp);

struct Style {
  Output_Format Id;
  // The --to name of the layout that writes data in this style, for
  // messages.
  std::string_view Name;
  Label_Writer Label;
  Width_Rule Width;
  // Between a label and the first value, and between values.
  char Separator;
  // The tables write numbers without leading blanks.
  bool Unpadded_Numbers;
  bool Controls_As_Underscores;
  // The header of character data, and whether the NEXUS comment lines
  // numbering the characters follow it.
  Data_Header_Writer Header;
  bool Numbered;
  // Whether the header declares a NEXUS data type, which a matrix of
  // symbols then has to be searched for.
  bool Declares_Datatype;
  Symbol_Row_Writer Symbols;
  // Null for a style that holds symbols only, which refuses continuous
  // characters.
  Number_Row_Writer Numbers;
  Footer_Writer Footer;
  // What a missing value (NaN) of continuous data is written as: what the
  // readers of the layout take for one.
  std::string_view Missing;
};

// Every style; Styles()[k].Id is style k.
std::span<const Style> Styles();
const Style& Style_Row(Output_Format style);

// --- The steps of character data.
// `symbols` are the NEXUS symbols of a STANDARD matrix.
// `names` are the characters' names, written by the layouts that have a
// place for them (csv, tsv, NEXUS) when there is one for each character.
void Print_Header(Text_IO::Text_Output& file, int taxa, int characters, Output_Format format,
                  Nexus_Datatype datatype, std::string_view symbols = {},
                  std::span<const std::string> names = {});
// The data type of a matrix of symbols and, for STANDARD, its symbols: the
// characters used but the missing ? and the gap -, in byte order (with 0
// and 1 for binary data).
Nexus_Datatype Nexus_Datatype_Of(const Disc_Data& data, bool binary, std::string& symbols);
// The two comment lines that number the character columns in blocks of ten.
void Print_Numbers(Text_IO::Text_Output& file, int characters, int width);
void Print_Footer(Text_IO::Text_Output& file, Output_Format format);

} // namespace Karvel::Phylo::Print
