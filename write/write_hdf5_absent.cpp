// The HDF5 writer of a build without libhdf5.

#include "write/write_hdf5.hpp"

#include "diagnostics/errors.hpp"

namespace Karvel::Phylo::Binary_Output {

bool Hdf5_Built() { return false; }

std::string Hdf5_Unavailable() { return "this karvel was built without HDF5"; }

std::unique_ptr<Matrix_Writer> Hdf5_Writer(const std::string&, const std::string&, const Taxon_Labels&) {
  throw Errors::Constraint_Error("this karvel was built without HDF5; rebuild it where libhdf5 is installed "
                                 "(Debian: libhdf5-dev), or write --to=npy");
}

std::string Hdf5_Refusal() {
  return "this karvel was built without HDF5; rebuild it where libhdf5 is installed (Debian: libhdf5-dev), or write "
         "--to=npy";
}

std::unique_ptr<Matrix_Writer> Hdf5_Open(const Target& target, const Taxon_Labels& labels, Layout) {
  return Hdf5_Writer(target.Path, target.Shown, labels);
}

} // namespace Karvel::Phylo::Binary_Output
