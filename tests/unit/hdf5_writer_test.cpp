// The HDF5 writer's rows reach their places whether they come one at a
// time (gathered into larger writes), in blocks, or mixed; read back with
// libhdf5 itself. Built only where the hdf5 layout is.

#if KARVEL_TEST_HDF5

#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <hdf5.h>

#include "write/write_hdf5.hpp"

using namespace Karvel;

namespace {

using namespace Phylo;

std::vector<double> Read_Matrix(const std::string& path, std::size_t n) {
  std::vector<double> values(n * n, -1.0);
  const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  EXPECT_GE(file, 0);
  const hid_t set = H5Dopen2(file, "matrix", H5P_DEFAULT);
  EXPECT_GE(H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()), 0);
  H5Dclose(set);
  H5Fclose(file);
  return values;
}

TEST(Hdf5Writer, RowsSingleInBlocksOrMixedLandInPlace) {
  // Enough taxa that single rows are written in several gathered pieces.
  constexpr std::size_t n = 400;
  Taxon_Labels labels;
  for (std::size_t t = 0; t < n; ++t) labels.push_back("t" + std::to_string(t));
  std::vector<double> square(n * n);
  for (std::size_t k = 0; k < square.size(); ++k) square[k] = static_cast<double>(k);
  const std::span<const double> all(square);
  const std::string path =
      (std::filesystem::temp_directory_path() / ("karvel-hdf5-" + std::to_string(::getpid()) + ".h5")).string();

  for (int how = 0; how < 3; ++how) {
    auto writer = Binary_Output::Hdf5_Writer(path, path, labels);
    if (how == 0) {
      for (std::size_t i = 0; i < n; ++i) writer->Put_Row(i, all.subspan(i * n, n));
    } else if (how == 1) {
      writer->Put_Rows(0, n, all);
    } else {
      // A few single rows left pending, then a block, then rows again.
      for (std::size_t i = 0; i < 3; ++i) writer->Put_Row(i, all.subspan(i * n, n));
      writer->Put_Rows(3, 200, all.subspan(3 * n, 200 * n));
      writer->Put_Rows(203, 100, all.subspan(203 * n, 100 * n));
      for (std::size_t i = 303; i < n; ++i) writer->Put_Row(i, all.subspan(i * n, n));
    }
    EXPECT_THROW(writer->Put_Row(0, all.subspan(0, n)), Errors::Constraint_Error);
    writer->Finish();
    EXPECT_EQ(Read_Matrix(path, n), square) << "written the way numbered " << how;
  }
  std::filesystem::remove(path);
}

} // namespace

#endif
