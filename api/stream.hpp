#pragma once
// Distances written a block of rows at a time: a matrix whose distances do
// not fit the memory budget is never held whole, and any range of its rows
// can be written alone, so that the parts of a run, one after the other,
// are the whole run's bytes.

#include <cstddef>
#include <string>
#include <vector>

#include "api/pipeline.hpp"
#include "write/write_binary.hpp"

namespace Karvel::Phylo::Pipeline {

// The bytes of distances a run may hold at once, unless told otherwise.
inline constexpr std::size_t Default_Memory = std::size_t{1} << 30;

// Whether the whole square of distances over `taxa` taxa fits in `memory`
// bytes.
bool Fits(int taxa, std::size_t memory);

// The distances each row of a layout shows (all of them for the layouts
// that show no row of their own).
Distfunc::Row_Part Part_Of(Print::Dist_Output_Format format);

// Rows First .. Past - 1.
struct Row_Range {
  int First = 0;
  int Past = 0;
  bool operator==(const Row_Range&) const = default;
};

// Part `index` (from 0) of `parts` ranges that split the rows so that each
// computes about as many pairs as the others: equal numbers of rows when
// every row shows all its pairs, fewer of the long rows of a triangle.
Row_Range Part_Rows(int taxa, Distfunc::Row_Part part, int index, int parts);

// Rows per block when the rows are written as they are computed: a block's
// distances take at most a quarter of `memory`, and 32 MiB or 64 rows,
// whichever is more.
int Block_Rows(int taxa, std::size_t memory);

// Rows first .. past - 1 of a block whose row `base` comes first in
// `values` (a row of distances to every taxon each), as text in pieces of
// consecutive rows, made on several threads; `pieces` is reused.
void Format_Rows(std::vector<std::string>& pieces, const Taxon_Labels& labels, const double* values, int base,
                 int first, int past, const Print::Row_Layout& layout);

// Writes rows `rows` of the distances in `format`: the header when they
// hold row 0, the footer when they hold the last row. When their
// distances fit in `memory` bytes they are all computed before anything is
// written, so a failing pair leaves nothing and is the first in the order of
// the taxa; otherwise the rows go out block after block as they are computed
// (the next block is computed while one is formatted and the one before
// is written, so two blocks of values and the text of two blocks are held;
// see Block_Rows), and a failing pair leaves the rows before the earliest
// row that holds one; the pair reported is still the first in the order of
// the taxa.
// Where the formula keeps undefined pairs as NaN, their one warning counts
// the pairs of these rows (see Distfunc::Row_Distances::Compute), after the
// last row when the rows are written as computed.
// `aft` is the number layout's (see Put_Distances). A square written as
// computed from row 0 computes each pair once and keeps the values later
// rows need, those beyond the budget in a nameless file in `scratch` (the
// output's folder; empty: $TMPDIR, else /tmp); a file that cannot be
// written is a Device_Error.
void Put_Distance_Rows(Text_IO::Text_Output& output, const Row_Blocks& blocks, Print::Dist_Output_Format format,
                       Row_Range rows, std::size_t memory, int aft = Print::Default_Aft,
                       const std::string& scratch = {});

// Writes every row of the distances to `writer`, a block of rows at a time
// (the next computed while one is written) and of each row the distances
// `part` holds: ALL for the square layouts, AFTER for the condensed one.
// A failing pair is the first in the order of the taxa; the rows before its
// earlier taxon's are handed to the writer before its error is raised.
// The caller finishes the writer. A square beyond `memory` computes each
// pair once, keeping values for later rows as Put_Distance_Rows does (in
// `scratch`, the output's folder, beyond the budget).
void Put_Binary_Rows(Binary_Output::Matrix_Writer& writer, const Row_Blocks& blocks, Distfunc::Row_Part part,
                     std::size_t memory, const std::string& scratch = {});

// The folder of a file's path, where a run's scratch file goes beside it.
std::string Folder_Of(const std::string& path);

} // namespace Karvel::Phylo::Pipeline
