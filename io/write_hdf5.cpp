#include "io/write_hdf5.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include <hdf5.h>

#include "generic/errors.hpp"

namespace Phylo::Binary_Output {

namespace {

// An HDF5 identifier closed by its own close function.
class Handle {
public:
  using Closer = herr_t (*)(hid_t);
  Handle() = default;
  Handle(hid_t id, Closer closer) : id_(id), closer_(closer) {}
  Handle(Handle&& other) noexcept : id_(other.id_), closer_(other.closer_) { other.id_ = -1; }
  Handle& operator=(Handle&& other) noexcept {
    std::swap(id_, other.id_);
    std::swap(closer_, other.closer_);
    return *this;
  }
  ~Handle() { Close(); }
  hid_t Id() const { return id_; }
  // False when closing failed (for a file: its last data could not be written).
  bool Close() {
    if (id_ < 0) return true;
    const herr_t status = closer_(id_);
    id_ = -1;
    return status >= 0;
  }

private:
  hid_t id_ = -1;
  Closer closer_ = nullptr;
};

class Hdf5 : public Matrix_Writer {
public:
  Hdf5(const std::string& path, const std::string& shown, const Taxon_Labels& labels)
      : shown_(shown), taxa_(labels.size()) {
    // The library's own report goes to standard error by default; failures
    // are reported once, by the exception below.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    file_ = Checked(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT), H5Fclose);
    Put_Tag("format", "BDSM");
    Put_Tag("version", "2020.12");

    Handle text = Checked(H5Tcopy(H5T_C_S1), H5Tclose);
    Check(H5Tset_size(text.Id(), H5T_VARIABLE));
    Check(H5Tset_cset(text.Id(), H5T_CSET_UTF8));
    const hsize_t count = taxa_;
    Handle labels_space = Checked(H5Screate_simple(1, &count, nullptr), H5Sclose);
    Handle order = Checked(H5Dcreate2(file_.Id(), "order", text.Id(), labels_space.Id(), H5P_DEFAULT,
                                      H5P_DEFAULT, H5P_DEFAULT),
                           H5Dclose);
    std::vector<const char*> pointers;
    pointers.reserve(taxa_);
    for (const std::string& label : labels) pointers.push_back(label.c_str());
    if (taxa_ > 0) Check(H5Dwrite(order.Id(), text.Id(), H5S_ALL, H5S_ALL, H5P_DEFAULT, pointers.data()));

    const hsize_t square[2] = {taxa_, taxa_};
    matrix_space_ = Checked(H5Screate_simple(2, square, nullptr), H5Sclose);
    matrix_ = Checked(H5Dcreate2(file_.Id(), "matrix", H5T_IEEE_F64LE, matrix_space_.Id(), H5P_DEFAULT,
                                 H5P_DEFAULT, H5P_DEFAULT),
                      H5Dclose);
    // Rows are gathered into writes of about a megabyte: one call per row
    // costs more than the copy.
    rows_per_write_ = std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(1, taxa_ * 8));
    pending_.reserve(std::min(rows_per_write_, std::max<std::size_t>(taxa_, 1)) * taxa_);
  }

  void Put_Row(std::size_t row, std::span<const double> values) override {
    if (row != next_ || values.size() != taxa_)
      throw Errors::Constraint_Error("index check failed: row " + std::to_string(row) + " of " +
                                     std::to_string(values.size()) + " distances where row " +
                                     std::to_string(next_) + " of " + std::to_string(taxa_) + " was due");
    ++next_;
    pending_.insert(pending_.end(), values.begin(), values.end());
    if (next_ - written_ == rows_per_write_) Write_Pending();
  }

  // A whole block goes to the file from where it lies.
  void Put_Rows(std::size_t first, std::size_t count, std::span<const double> values) override {
    if (!pending_.empty() || first != next_ || values.size() != count * taxa_ || next_ + count > taxa_) {
      Matrix_Writer::Put_Rows(first, count, values);
      return;
    }
    next_ += count;
    Write(first, count, values.data());
    written_ = next_;
  }

  void Finish() override {
    if (next_ != taxa_)
      throw Errors::Constraint_Error("index check failed: " + std::to_string(next_) + " rows of " +
                                     std::to_string(taxa_) + " written");
    Write_Pending();
    // Every handle is closed, whichever fails.
    bool closed = matrix_.Close();
    closed = matrix_space_.Close() && closed;
    closed = file_.Close() && closed;
    if (!closed) Fail();
  }

private:
  [[noreturn]] void Fail() const { throw Errors::Device_Error("cannot write the HDF5 file '" + shown_ + "'"); }
  void Check(herr_t status) const {
    if (status < 0) Fail();
  }
  Handle Checked(hid_t id, Handle::Closer closer) const {
    if (id < 0) Fail();
    return Handle(id, closer);
  }

  // A one-element dataset of a fixed-length string, as numpy's bytes arrays
  // are stored.
  void Put_Tag(const char* name, std::string_view value) {
    Handle type = Checked(H5Tcopy(H5T_C_S1), H5Tclose);
    Check(H5Tset_size(type.Id(), value.size()));
    Check(H5Tset_strpad(type.Id(), H5T_STR_NULLPAD));
    const hsize_t one = 1;
    Handle space = Checked(H5Screate_simple(1, &one, nullptr), H5Sclose);
    Handle set =
        Checked(H5Dcreate2(file_.Id(), name, type.Id(), space.Id(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Dclose);
    Check(H5Dwrite(set.Id(), type.Id(), H5S_ALL, H5S_ALL, H5P_DEFAULT, value.data()));
  }

  // Rows first .. first + rows - 1 of the matrix from `values`.
  void Write(std::size_t first, std::size_t rows, const double* values) {
    if (rows == 0 || taxa_ == 0) return;
    const hsize_t start[2] = {first, 0}, count[2] = {rows, taxa_};
    Check(H5Sselect_hyperslab(matrix_space_.Id(), H5S_SELECT_SET, start, nullptr, count, nullptr));
    Handle memory = Checked(H5Screate_simple(2, count, nullptr), H5Sclose);
    Check(H5Dwrite(matrix_.Id(), H5T_NATIVE_DOUBLE, memory.Id(), matrix_space_.Id(), H5P_DEFAULT, values));
  }

  void Write_Pending() {
    Write(written_, next_ - written_, pending_.data());
    written_ = next_;
    pending_.clear();
  }

  std::string shown_;
  std::size_t taxa_;
  Handle file_;
  Handle matrix_space_;
  Handle matrix_;
  std::size_t rows_per_write_ = 1;
  std::vector<double> pending_;
  std::size_t next_ = 0;
  std::size_t written_ = 0;
};

} // namespace

bool Hdf5_Built() { return true; }

std::unique_ptr<Matrix_Writer> Hdf5_Writer(const std::string& path, const std::string& shown,
                                           const Taxon_Labels& labels) {
  return std::make_unique<Hdf5>(path, shown, labels);
}

} // namespace Phylo::Binary_Output
