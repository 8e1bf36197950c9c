#include "write/write_hdf5.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string_view>
#include <vector>

#include <hdf5.h>

#include "diagnostics/errors.hpp"
#include "text/text_io.hpp"
#include "karvel/utf8.hpp"

namespace Karvel::Phylo::Binary_Output {

namespace {

// libhdf5 is loaded when a file is first written, not when the program
// starts: with the libraries it needs in turn it would add milliseconds to
// every run, most of which never write HDF5. The header still gives the
// types and constants; the functions and the predefined types (which the
// header's macros read from globals after H5open) come from the library.
struct Library {
  decltype(&H5dont_atexit) dont_atexit;
  decltype(&H5open) open;
  decltype(&H5Eset_auto2) Eset_auto2;
  decltype(&H5Fcreate) Fcreate;
  decltype(&H5Fclose) Fclose;
  decltype(&H5Tcopy) Tcopy;
  decltype(&H5Tset_size) Tset_size;
  decltype(&H5Tset_cset) Tset_cset;
  decltype(&H5Tset_strpad) Tset_strpad;
  decltype(&H5Tclose) Tclose;
  decltype(&H5Screate_simple) Screate_simple;
  decltype(&H5Sselect_hyperslab) Sselect_hyperslab;
  decltype(&H5Sclose) Sclose;
  decltype(&H5Dcreate2) Dcreate2;
  decltype(&H5Dwrite) Dwrite;
  decltype(&H5Dclose) Dclose;
  decltype(&H5Pcreate) Pcreate;
  decltype(&H5Pset_obj_track_times) Pset_obj_track_times;
  decltype(&H5Pclose) Pclose;
  hid_t C_S1;
  hid_t IEEE_F64LE;
  hid_t NATIVE_DOUBLE;
  hid_t DATASET_CREATE;
};

// The library, or why it could not be loaded.
struct Loaded {
  Library api{};
  std::string failure;
};

const Loaded& Load() {
  static const Loaded loaded = [] {
    Loaded result;
    void* handle = dlopen(KARVEL_HDF5_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = dlerror();
      result.failure = "cannot load the HDF5 library " KARVEL_HDF5_LIBRARY ": " + std::string(why ? why : "");
      return result;
    }
    const auto symbol = [&](auto& target, const char* name) {
      if (!result.failure.empty()) return;
      void* address = dlsym(handle, name);
      if (!address) result.failure = std::string("the HDF5 library " KARVEL_HDF5_LIBRARY " lacks ") + name;
      target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(address);
    };
    Library& api = result.api;
    symbol(api.dont_atexit, "H5dont_atexit");
    symbol(api.open, "H5open");
    symbol(api.Eset_auto2, "H5Eset_auto2");
    symbol(api.Fcreate, "H5Fcreate");
    symbol(api.Fclose, "H5Fclose");
    symbol(api.Tcopy, "H5Tcopy");
    symbol(api.Tset_size, "H5Tset_size");
    symbol(api.Tset_cset, "H5Tset_cset");
    symbol(api.Tset_strpad, "H5Tset_strpad");
    symbol(api.Tclose, "H5Tclose");
    symbol(api.Screate_simple, "H5Screate_simple");
    symbol(api.Sselect_hyperslab, "H5Sselect_hyperslab");
    symbol(api.Sclose, "H5Sclose");
    symbol(api.Dcreate2, "H5Dcreate2");
    symbol(api.Dwrite, "H5Dwrite");
    symbol(api.Dclose, "H5Dclose");
    symbol(api.Pcreate, "H5Pcreate");
    symbol(api.Pset_obj_track_times, "H5Pset_obj_track_times");
    symbol(api.Pclose, "H5Pclose");
    // A program that also links libhdf5 and names these globals holds
    // them itself (copy relocations), and the library then uses that copy:
    // it is found first, the library's own one otherwise.
    const auto global = [&](const hid_t*& target, const char* name) {
      if (!result.failure.empty()) return;
      void* address = dlsym(RTLD_DEFAULT, name);
      if (!address) address = dlsym(handle, name);
      if (!address) result.failure = std::string("the HDF5 library " KARVEL_HDF5_LIBRARY " lacks ") + name;
      target = static_cast<const hid_t*>(address);
    };
    const hid_t* c_s1 = nullptr;
    const hid_t* f64le = nullptr;
    const hid_t* native_double = nullptr;
    const hid_t* dataset_create = nullptr;
    global(c_s1, "H5T_C_S1_g");
    global(f64le, "H5T_IEEE_F64LE_g");
    global(native_double, "H5T_NATIVE_DOUBLE_g");
    global(dataset_create, "H5P_CLS_DATASET_CREATE_ID_g");
    if (!result.failure.empty()) return result;
    // The library's own clean-up at exit flushes and closes what is still
    // open; a file whose close failed (a full disk) is left half torn down,
    // and that clean-up crashes on it. Every file is closed by its writer,
    // so nothing is lost without it.
    api.dont_atexit();
    if (api.open() < 0) {
      result.failure = "the HDF5 library " KARVEL_HDF5_LIBRARY " does not start";
      return result;
    }
    api.C_S1 = *c_s1;
    api.IEEE_F64LE = *f64le;
    api.NATIVE_DOUBLE = *native_double;
    api.DATASET_CREATE = *dataset_create;
    return result;
  }();
  return loaded;
}

// H5F_ACC_TRUNC, whose macro also calls into the library.
constexpr unsigned Create_Or_Truncate = 0x0002u;

const Library& Api() {
  const Loaded& loaded = Load();
  if (!loaded.failure.empty()) throw Errors::Constraint_Error(loaded.failure);
  return loaded.api;
}

// The library's own report goes to standard error by default; failures are
// reported once, by the writer's exception. The setting belongs to the
// calling thread (the library is built thread-safe), and rows may come
// from another thread than the one that opened the file, so every entry
// point sets it. It also clears errno, which then tells why a write failed.
void Quiet(const Library& h5) {
  h5.Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  errno = 0;
}

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

// The labels are stored as UTF-8 text, which readers decode strictly: a
// label in another encoding would make the file unreadable to them.
void Refuse_Non_Utf8(const Taxon_Labels& labels) {
  for (std::size_t t = 0; t < labels.size(); ++t)
    if (const std::size_t at = Karvel::Utf8::First_Invalid(labels[t]); at != std::string::npos)
      throw Errors::Data_Error("the label '" + labels[t] + "' of taxon " + std::to_string(t + 1) +
                               " is not UTF-8 (byte " +
                               Karvel::Utf8::Code_Of(static_cast<unsigned char>(labels[t][at])) +
                               "), which the hdf5 layout stores; name the encoding of the input, "
                               "as --encoding=latin-1");
}

class Hdf5 : public Matrix_Writer {
public:
  Hdf5(const std::string& path, const std::string& shown, const Taxon_Labels& labels)
      : h5_(Api()), shown_(shown), taxa_(labels.size()) {
    Refuse_Non_Utf8(labels);
    Quiet(h5_);
    file_ = Checked(h5_.Fcreate(path.c_str(), Create_Or_Truncate, H5P_DEFAULT, H5P_DEFAULT), h5_.Fclose);
    // Without the times of creation and change in every dataset's header,
    // the same distances give the same file, whenever they are written.
    creation_ = Checked(h5_.Pcreate(h5_.DATASET_CREATE), h5_.Pclose);
    Check(h5_.Pset_obj_track_times(creation_.Id(), false));
    Put_Tag("format", "BDSM");
    Put_Tag("version", "2020.12");

    Handle text = Checked(h5_.Tcopy(h5_.C_S1), h5_.Tclose);
    Check(h5_.Tset_size(text.Id(), H5T_VARIABLE));
    Check(h5_.Tset_cset(text.Id(), H5T_CSET_UTF8));
    const hsize_t count = taxa_;
    Handle labels_space = Checked(h5_.Screate_simple(1, &count, nullptr), h5_.Sclose);
    Handle order = Checked(h5_.Dcreate2(file_.Id(), "order", text.Id(), labels_space.Id(), H5P_DEFAULT,
                                      creation_.Id(), H5P_DEFAULT),
                           h5_.Dclose);
    std::vector<const char*> pointers;
    pointers.reserve(taxa_);
    for (const std::string& label : labels) pointers.push_back(label.c_str());
    if (taxa_ > 0) Check(h5_.Dwrite(order.Id(), text.Id(), H5S_ALL, H5S_ALL, H5P_DEFAULT, pointers.data()));

    const hsize_t square[2] = {taxa_, taxa_};
    matrix_space_ = Checked(h5_.Screate_simple(2, square, nullptr), h5_.Sclose);
    matrix_ = Checked(h5_.Dcreate2(file_.Id(), "matrix", h5_.IEEE_F64LE, matrix_space_.Id(), H5P_DEFAULT,
                                 creation_.Id(), H5P_DEFAULT),
                      h5_.Dclose);
    // Rows are gathered into writes of about a megabyte: one call per row
    // costs more than the copy.
    rows_per_write_ = std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(1, taxa_ * 8));
    pending_.reserve(std::min(rows_per_write_, std::max<std::size_t>(taxa_, 1)) * taxa_);
  }

  // The handles close after this, as quietly.
  ~Hdf5() override { Quiet(h5_); }
  Hdf5(const Hdf5&) = delete;
  Hdf5& operator=(const Hdf5&) = delete;

  void Put_Row(std::size_t row, std::span<const double> values) override {
    Check_Row(row, values.size(), next_, taxa_);
    Quiet(h5_);
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
    Quiet(h5_);
    next_ += count;
    Write(first, count, values.data());
    written_ = next_;
  }

  void Finish() override {
    if (next_ != taxa_)
      throw Errors::Constraint_Error("index check failed: " + std::to_string(next_) + " rows of " +
                                     std::to_string(taxa_) + " written");
    Quiet(h5_);
    Write_Pending();
    // Every handle is closed, whichever fails.
    bool closed = matrix_.Close();
    closed = matrix_space_.Close() && closed;
    closed = file_.Close() && closed;
    if (!closed) Fail();
  }

private:
  // The library keeps the system's reason to itself; errno still holds it
  // when a write failed, and the reasons a user can act on are named.
  [[noreturn]] void Fail() const {
    const int error = errno;
    std::string message = "cannot write the HDF5 file '" + shown_ + "'";
    if (error == EFBIG || error == ENOSPC || error == EDQUOT || error == EIO)
      message += ": " + Text_IO::Write_Failure(error);
    throw Errors::Device_Error(message);
  }
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
    Handle type = Checked(h5_.Tcopy(h5_.C_S1), h5_.Tclose);
    Check(h5_.Tset_size(type.Id(), value.size()));
    Check(h5_.Tset_strpad(type.Id(), H5T_STR_NULLPAD));
    const hsize_t one = 1;
    Handle space = Checked(h5_.Screate_simple(1, &one, nullptr), h5_.Sclose);
    Handle set =
        Checked(h5_.Dcreate2(file_.Id(), name, type.Id(), space.Id(), H5P_DEFAULT, creation_.Id(), H5P_DEFAULT), h5_.Dclose);
    Check(h5_.Dwrite(set.Id(), type.Id(), H5S_ALL, H5S_ALL, H5P_DEFAULT, value.data()));
  }

  // Rows first .. first + rows - 1 of the matrix from `values`.
  void Write(std::size_t first, std::size_t rows, const double* values) {
    if (rows == 0 || taxa_ == 0) return;
    const hsize_t start[2] = {first, 0}, count[2] = {rows, taxa_};
    Check(h5_.Sselect_hyperslab(matrix_space_.Id(), H5S_SELECT_SET, start, nullptr, count, nullptr));
    Handle memory = Checked(h5_.Screate_simple(2, count, nullptr), h5_.Sclose);
    Check(h5_.Dwrite(matrix_.Id(), h5_.NATIVE_DOUBLE, memory.Id(), matrix_space_.Id(), H5P_DEFAULT, values));
  }

  void Write_Pending() {
    Write(written_, next_ - written_, pending_.data());
    written_ = next_;
    pending_.clear();
  }

  const Library& h5_;
  std::string shown_;
  std::size_t taxa_;
  Handle file_;
  Handle creation_;
  Handle matrix_space_;
  Handle matrix_;
  std::size_t rows_per_write_ = 1;
  std::vector<double> pending_;
  std::size_t next_ = 0;
  std::size_t written_ = 0;
};

} // namespace

bool Hdf5_Built() { return true; }

std::string Hdf5_Unavailable() { return Load().failure; }

std::unique_ptr<Matrix_Writer> Hdf5_Writer(const std::string& path, const std::string& shown,
                                           const Taxon_Labels& labels) {
  return std::make_unique<Hdf5>(path, shown, labels);
}

std::string Hdf5_Refusal() {
  const std::string why = Hdf5_Unavailable();
  return why.empty() ? why : why + "; write --to=npy instead";
}

std::unique_ptr<Matrix_Writer> Hdf5_Open(const Target& target, const Taxon_Labels& labels, Layout) {
  return Hdf5_Writer(target.Path, target.Shown, labels);
}

} // namespace Karvel::Phylo::Binary_Output
