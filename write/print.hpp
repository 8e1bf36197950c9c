#pragma once
// Writing distance matrices and character data.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "text/text_io.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Print {

// The tables (LSMAT, CSV) are written for other programs to read by label:
// no padding anywhere, values without leading blanks, a label quoted (RFC
// 4180: between double quotes, a quote doubled) only where it holds the
// separator, a double quote or a line break. LSMAT is the tab-separated
// table, its header a tab and the labels. PHYLIP_LOWER is the lower
// triangle without the diagonal, labels and values as in PHYLIP. FASTA is a
// layout of character data only; distances cannot be written in it.
enum class Dist_Output_Format {
  EXTENDED_PHYLIP, LABELS, NEXUS, NEXUS_ENCLOSED, ONE_COLUMN, PHYLIP, RAW, TAB_SEPARATED,
  LSMAT, CSV, PHYLIP_LOWER, FASTA
};
// CSV and TSV: a header row of an empty cell and the names c1, c2, ...,
// then per taxon its label and its characters, one a cell. FASTA: ">label"
// (blanks as underscores, as the label is the first word) and the sequence
// on the next line; symbols only.
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
// character data are printed in (-W) when distances would be printed in it.
Output_Format Label_Format(Dist_Output_Format format);
// Whether the layout writes the controls of labels (line feeds, tabs) as
// '_': those that write labels bare. The tables quote them; NEXUS cleans
// its labels or quotes them.
bool Writes_Controls_As_Underscores(Output_Format style);

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
struct Row_Layout {
  Dist_Output_Format Format;
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
