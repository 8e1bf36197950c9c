#pragma once
// Writing distance matrices and character data.

#include <cstddef>
#include <span>
#include <string>

#include "generic/text_io.hpp"
#include "model/model.hpp"

namespace Phylo::Print {

enum class Dist_Output_Format {
  EXTENDED_PHYLIP, LABELS, NEXUS, NEXUS_ENCLOSED, ONE_COLUMN, PHYLIP, RAW, TAB_SEPARATED
};
enum class Output_Format { EXTENDED_PHYLIP, LABELS, NEXUS, NEXUS_ENCLOSED, PHYLIP, RAW };

// The NEXUS data type written in the header of character data.
enum class Nexus_Datatype { CONTINUOUS, DNA };

// The number layout of all real output: Fore characters at least before the
// point, Aft digits after it, no exponent.
inline constexpr int Default_Fore = 2;
inline constexpr int Default_Aft = 8;
inline constexpr int Default_Exp = 0;

// The label style of each distance format, which is also the layout the
// character data are printed in (-W) when distances would be printed in it.
Output_Format Label_Format(Dist_Output_Format format);

// A distance matrix, header to footer.
void Put(Text_IO::Text_Output& file, const Squared& matrix, Dist_Output_Format format, int fore,
         int aft, int exp);
// Character data (-W).
void Put(Text_IO::Text_Output& file, const Disc_Data& data, Output_Format format);
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
void Print_Header(Text_IO::Text_Output& file, int taxa, int characters, Output_Format format,
                  Nexus_Datatype datatype);
// The two comment lines that number the character columns in blocks of ten.
void Print_Numbers(Text_IO::Text_Output& file, int characters, int width);
void Print_Footer(Text_IO::Text_Output& file, Output_Format format);

} // namespace Phylo::Print
