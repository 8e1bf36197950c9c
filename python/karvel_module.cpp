// The Python module karvel._karvel: the library's matrices, distances and
// options for numpy arrays. karvel/__init__.py is the interface users see.

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <karvel/karvel.hpp>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;
namespace K = Karvel::Lib;

namespace {

std::vector<std::string> Labels_Or_Numbers(std::optional<std::vector<std::string>> labels, py::ssize_t taxa) {
  if (labels) return std::move(*labels);
  std::vector<std::string> numbers;
  for (py::ssize_t t = 1; t <= taxa; ++t) numbers.push_back(std::to_string(t));
  return numbers;
}

// A matrix of real numbers. A C-contiguous, aligned float64 array is read
// where it is (the matrix holds a reference to it: keep_alive below);
// another is converted once, into the matrix.
K::Matrix Values(const py::array& x, std::optional<std::vector<std::string>> labels) {
  if (x.ndim() != 2) throw py::value_error("the characters are a 2-dimensional array: taxa by characters");
  const bool aligned = reinterpret_cast<std::uintptr_t>(x.data()) % alignof(double) == 0;
  if (x.dtype().is(py::dtype::of<double>()) && (x.flags() & py::array::c_style) && aligned) {
    const auto* values = static_cast<const double*>(x.data());
    return K::Matrix::View_Values(Labels_Or_Numbers(std::move(labels), x.shape(0)),
                                  {values, static_cast<std::size_t>(x.size())}, static_cast<int>(x.shape(1)));
  }
  const auto converted = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(x);
  if (!converted) throw py::error_already_set();
  return K::Matrix::From_Values(Labels_Or_Numbers(std::move(labels), x.shape(0)),
                                {converted.data(), static_cast<std::size_t>(converted.size())},
                                static_cast<int>(x.shape(1)));
}

// Presence and absence from booleans or the integers 1 and 0, in one pass.
template <class T>
std::vector<std::string> Zero_One_Rows(const py::array& x) {
  const auto a = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(x);
  if (!a) throw py::error_already_set();
  const auto taxa = static_cast<std::size_t>(a.shape(0));
  const auto width = static_cast<std::size_t>(a.shape(1));
  const T* v = a.data();
  std::vector<std::string> rows(taxa, std::string(width, '0'));
  for (std::size_t t = 0; t < taxa; ++t)
    for (std::size_t c = 0; c < width; ++c) {
      const T value = v[t * width + c];
      if (value != T(0) && value != T(1))
        throw py::value_error("binary characters are 0 and 1 (or booleans); pass floats for continuous ones");
      if (value == T(1)) rows[t][c] = '1';
    }
  return rows;
}

K::Matrix Presences(const py::array& x, std::optional<std::vector<std::string>> labels) {
  if (x.ndim() != 2) throw py::value_error("the characters are a 2-dimensional array: taxa by characters");
  const std::vector<std::string> rows =
      x.dtype().kind() == 'b' ? Zero_One_Rows<bool>(x) : Zero_One_Rows<std::int64_t>(x);
  return K::Matrix::From_Symbols(Labels_Or_Numbers(std::move(labels), x.shape(0)), rows, K::Datatype::BINARY);
}

// Rows of symbols, one string per taxon (presence and absence as 1 and 0
// for binary characters).
K::Matrix Symbols(const std::vector<std::string>& rows, std::optional<std::vector<std::string>> labels,
                  bool binary) {
  return K::Matrix::From_Symbols(Labels_Or_Numbers(std::move(labels), static_cast<py::ssize_t>(rows.size())), rows,
                                 binary ? K::Datatype::BINARY : K::Datatype::DISCRETE);
}

// The options of one call. The GIL is given back while karvel computes and
// taken only to ask whether Ctrl-C was pressed, between blocks of rows.
K::Options Options_Of(int threads, const std::string& simd, bool undefined_as_nan, bool pairwise, bool average_ties) {
  K::Options options;
  options.Threads = threads;
  options.Simd = simd;
  options.Undefined_As_NaN = undefined_as_nan;
  options.Missing = pairwise ? K::Missing_Values::PAIRWISE : K::Missing_Values::ERROR;
  options.Average_Ties = average_ties;
  options.Interrupted = [] {
    py::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
  };
  return options;
}

// A Ctrl-C that stopped the computation leaves Python's KeyboardInterrupt
// set: it is what the caller sees.
template <class Compute>
void Computing(Compute&& compute) {
  try {
    py::gil_scoped_release released;
    compute();
  } catch (const Karvel::Errors::Interrupt_Error&) {
    if (PyErr_Occurred()) throw py::error_already_set();
    throw;
  }
}

py::array_t<double> Condensed(const K::Matrix& data, const std::string& formula, int threads,
                              const std::string& simd, bool undefined_as_nan, bool pairwise, bool average_ties) {
  const auto taxa = static_cast<py::ssize_t>(data.Taxa());
  py::array_t<double> out(taxa * (taxa - 1) / 2);
  double* into = out.mutable_data();
  const std::size_t size = static_cast<std::size_t>(out.size());
  const K::Options options = Options_Of(threads, simd, undefined_as_nan, pairwise, average_ties);
  Computing([&] { K::Condensed_Distances(data, formula, {into, size}, options); });
  return out;
}

py::array_t<double> Square(const K::Matrix& data, const std::string& formula, int threads, const std::string& simd,
                           bool undefined_as_nan, bool pairwise, bool average_ties) {
  const auto taxa = static_cast<py::ssize_t>(data.Taxa());
  py::array_t<double> out({taxa, taxa});
  double* into = out.mutable_data();
  const std::size_t size = static_cast<std::size_t>(out.size());
  const K::Options options = Options_Of(threads, simd, undefined_as_nan, pairwise, average_ties);
  Computing([&] { K::Distances(data, formula, {into, size}, options); });
  return out;
}

K::Output_Layout Output_Layout_Named(const std::string& name) {
  for (int k = 0; k <= static_cast<int>(K::Output_Layout::HDF5); ++k)
    if (K::Output_Layout_Name(static_cast<K::Output_Layout>(k)) == name) return static_cast<K::Output_Layout>(k);
  throw py::value_error("no output layout named '" + name + "'");
}

std::vector<std::string> Output_Layout_Names() {
  std::vector<std::string> names;
  for (int k = 0; k <= static_cast<int>(K::Output_Layout::HDF5); ++k)
    names.push_back(K::Output_Layout_Name(static_cast<K::Output_Layout>(k)));
  return names;
}

// A matrix read as the arrays users hold: float64 numbers, booleans for
// presence and absence, one-character strings for other symbols.
py::tuple Arrays(const K::Matrix& data) {
  std::vector<std::string> labels;
  for (int t = 0; t < data.Taxa(); ++t) labels.push_back(data.Label(t));
  const auto taxa = static_cast<py::ssize_t>(data.Taxa());
  const auto characters = static_cast<py::ssize_t>(data.Characters());
  const auto width = static_cast<std::size_t>(characters);
  switch (data.Type()) {
  case K::Datatype::CONTINUOUS: {
    py::array_t<double> x({taxa, characters});
    double* into = x.mutable_data();
    for (int t = 0; t < data.Taxa(); ++t) std::memcpy(into + static_cast<std::size_t>(t) * width, data.Values(t).data(), width * sizeof(double));
    return py::make_tuple(labels, x);
  }
  case K::Datatype::BINARY: {
    py::array_t<bool> x({taxa, characters});
    bool* into = x.mutable_data();
    for (int t = 0; t < data.Taxa(); ++t) {
      const std::string_view row = data.Symbols(t);
      for (std::size_t c = 0; c < width; ++c) {
        if (row[c] != '0' && row[c] != '1')
          throw py::value_error("taxon '" + labels[static_cast<std::size_t>(t)] + "' has the symbol '" +
                                std::string(1, row[c]) + "', neither 0 nor 1: read it as discrete");
        into[static_cast<std::size_t>(t) * width + c] = row[c] == '1';
      }
    }
    return py::make_tuple(labels, x);
  }
  default: {
    py::array x(py::dtype("<U1"), {taxa, characters});
    auto* into = static_cast<std::uint32_t*>(x.mutable_data());
    for (int t = 0; t < data.Taxa(); ++t) {
      const std::string_view row = data.Symbols(t);
      for (std::size_t c = 0; c < width; ++c)
        into[static_cast<std::size_t>(t) * width + c] = static_cast<unsigned char>(row[c]);
    }
    return py::make_tuple(labels, x);
  }
  }
}

py::list Read(const std::string& path, const std::string& layout, K::Datatype type, bool pairwise, bool all) {
  const std::optional<K::Input_Layout> named = K::Input_Layout_Named(layout);
  if (!named) throw py::value_error("no input layout named '" + layout + "'");
  K::Reader reader = K::Reader::From_File(path, *named, type);
  if (pairwise) reader.Set_Missing(K::Missing_Values::PAIRWISE);
  py::list matrices;
  while (std::optional<K::Matrix> data = reader.Next()) {
    matrices.append(Arrays(*data));
    if (!all) break;
  }
  return matrices;
}

py::bytes Data_Text(const K::Matrix& data, const std::string& layout, bool exact) {
  std::string text;
  K::Output out(text);
  K::Write_Data(out, data, Output_Layout_Named(layout), exact);
  out.Flush();
  return py::bytes(text);
}

void Distances_File(const std::string& path, const K::Matrix& data,
                    const py::array_t<double, py::array::c_style | py::array::forcecast>& square,
                    const std::string& layout, bool exact) {
  K::Write_Distances_To_File(path, data, {square.data(), static_cast<std::size_t>(square.size())},
                             Output_Layout_Named(layout), exact);
}

} // namespace

PYBIND11_MODULE(_karvel, m) {
  m.doc() = "karvel's library for numpy arrays; use the package karvel.";
  m.attr("__version__") = K::Version();

  // The conditions as exception classes under one base, karvel.Error; the
  // condition's name is the class's `condition`.
  static py::exception<Karvel::Errors::Error> error(m, "Error");
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Karvel::Errors::Error& e) {
      py::object instance = py::reinterpret_borrow<py::object>(error.ptr())(e.what());
      auto or_none = [](const auto& value) { return value ? py::cast(*value) : py::none(); };
      instance.attr("condition") = e.Name();
      instance.attr("taxa") = e.Taxon_I() ? py::object(py::make_tuple(*e.Taxon_I(), *e.Taxon_J())) : py::none();
      instance.attr("pair") = e.Taxon_I() && !e.Label_I().empty() ? py::object(py::make_tuple(e.Label_I(), e.Label_J()))
                                                                  : py::none();
      instance.attr("file") = e.File().empty() ? py::none() : py::cast(e.File());
      instance.attr("line") = or_none(e.Line());
      instance.attr("column") = or_none(e.Column());
      PyErr_SetObject(error.ptr(), instance.ptr());
    }
  });

  py::enum_<K::Datatype>(m, "Datatype")
      .value("BINARY", K::Datatype::BINARY)
      .value("CONTINUOUS", K::Datatype::CONTINUOUS)
      .value("DISCRETE", K::Datatype::DISCRETE);

  py::class_<K::Matrix>(m, "Matrix")
      .def_property_readonly("taxa", &K::Matrix::Taxa)
      .def_property_readonly("characters", &K::Matrix::Characters)
      .def_property_readonly("datatype", &K::Matrix::Type)
      .def_property_readonly("labels", [](const K::Matrix& data) {
        std::vector<std::string> labels;
        for (int t = 0; t < data.Taxa(); ++t) labels.push_back(data.Label(t));
        return labels;
      });

  m.def("values", &Values, py::arg("x"), py::arg("labels") = std::nullopt, py::keep_alive<0, 1>());
  m.def("presences", &Presences, py::arg("x"), py::arg("labels") = std::nullopt);
  m.def("symbols", &Symbols, py::arg("rows"), py::arg("labels") = std::nullopt, py::arg("binary") = false);
  m.def("transform", [](K::Matrix& data, const std::string& name) { K::Transform(data, name); });
  m.def("formula_names", &K::Formula_Names);
  m.def("condensed", &Condensed);
  m.def("input_layout_names", &K::Input_Layout_Names);
  m.def("output_layout_names", &Output_Layout_Names);
  m.def("read", &Read);
  m.def("data_text", &Data_Text);
  m.def("distances_file", &Distances_File);
  m.def("square", &Square);
}
