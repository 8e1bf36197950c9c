#pragma once
// Distance matrices as the HDF5 layout of the microbial-ecology tools:
// datasets `format` ("BDSM") and `version` ("2020.12"), each a one-element
// array of a fixed-length string, `order` (the labels, variable-length UTF-8
// strings) and `matrix` (n x n float64). Built only where libhdf5 is found;
// elsewhere asking for the writer is a Constraint_Error that says so.

#include <memory>
#include <string>

#include "write/write_binary.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Binary_Output {

// Whether this build writes HDF5, and, when it does, why the library
// cannot be loaded now (empty when it can).
bool Hdf5_Built();
std::string Hdf5_Unavailable();
// Why this run cannot write HDF5, as a report puts it, or nothing.
std::string Hdf5_Refusal();
// The HDF5 writer of one matrix into target.Path.
std::unique_ptr<Matrix_Writer> Hdf5_Open(const Target& target, const Taxon_Labels& labels, Layout layout);

// Creates (or truncates) the file at `path` and writes all but the matrix's
// values, which the rows then fill; `shown` is the name errors give.
std::unique_ptr<Matrix_Writer> Hdf5_Writer(const std::string& path, const std::string& shown,
                                           const Taxon_Labels& labels);

} // namespace Karvel::Phylo::Binary_Output
