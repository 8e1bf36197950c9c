#pragma once
// Checks of the labels of a matrix that do not stop a run but leave a result
// that other programs read wrongly: two taxa of the same name make two tips
// no tree program can tell apart. Each finding goes out as a warning.

#include <string>

#include "model/model.hpp"

namespace Karvel::Phylo::Label_Checks {

// A warning for each label that an earlier taxon of the matrix already has;
// `matrix` names the matrix in the warnings ("the matrix that starts on
// line 1 of data.phy").
void Warn_Of_Duplicates(const Taxon_Labels& labels, const std::string& matrix);

// A warning for each label that becomes an earlier one's when both are cut
// to the ten columns of PHYLIP output; labels equal already are left to
// Warn_Of_Duplicates.
void Warn_Of_Phylip_Cut_Collisions(const Taxon_Labels& labels);

// A warning for each label that is not UTF-8, naming its first stray byte:
// files declared UTF-8 (HDF5, CSV for pandas) would carry it on.
void Warn_Of_Non_Utf8(const Taxon_Labels& labels, const std::string& matrix);

// A warning for each label holding a control (line feed, tab, ...), which the
// layouts that write labels bare show as '_'.
void Warn_Of_Controls(const Taxon_Labels& labels);

// The labels read as ISO 8859-1, now in UTF-8 (--encoding=latin-1).
void Convert_From_Latin1(Taxon_Labels& labels);

} // namespace Karvel::Phylo::Label_Checks
