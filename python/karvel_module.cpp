// The Python module karvel._karvel: the library's matrices, distances and
// options for numpy arrays. karvel/__init__.py is the interface users see.

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <karvel/karvel.hpp>

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

// A matrix of real numbers, converted once where it is not a C-contiguous
// float64 array already.
K::Matrix Values(const py::array_t<double, py::array::c_style | py::array::forcecast>& x,
                 std::optional<std::vector<std::string>> labels) {
  if (x.ndim() != 2) throw py::value_error("the characters are a 2-dimensional array: taxa by characters");
  return K::Matrix::From_Values(Labels_Or_Numbers(std::move(labels), x.shape(0)),
                                {x.data(), static_cast<std::size_t>(x.size())}, static_cast<int>(x.shape(1)));
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
K::Options Options_Of(int threads, const std::string& simd, bool undefined_as_nan) {
  K::Options options;
  options.Threads = threads;
  options.Simd = simd;
  options.Undefined_As_NaN = undefined_as_nan;
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
                              const std::string& simd, bool undefined_as_nan) {
  const auto taxa = static_cast<py::ssize_t>(data.Taxa());
  py::array_t<double> out(taxa * (taxa - 1) / 2);
  double* into = out.mutable_data();
  const std::size_t size = static_cast<std::size_t>(out.size());
  const K::Options options = Options_Of(threads, simd, undefined_as_nan);
  Computing([&] { K::Condensed_Distances(data, formula, {into, size}, options); });
  return out;
}

py::array_t<double> Square(const K::Matrix& data, const std::string& formula, int threads, const std::string& simd,
                           bool undefined_as_nan) {
  const auto taxa = static_cast<py::ssize_t>(data.Taxa());
  py::array_t<double> out({taxa, taxa});
  double* into = out.mutable_data();
  const std::size_t size = static_cast<std::size_t>(out.size());
  const K::Options options = Options_Of(threads, simd, undefined_as_nan);
  Computing([&] { K::Distances(data, formula, {into, size}, options); });
  return out;
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
      instance.attr("condition") = e.Name();
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

  m.def("values", &Values, py::arg("x"), py::arg("labels") = std::nullopt);
  m.def("symbols", &Symbols, py::arg("rows"), py::arg("labels") = std::nullopt, py::arg("binary") = false);
  m.def("transform", [](K::Matrix& data, const std::string& name) { K::Transform(data, name); });
  m.def("formula_names", &K::Formula_Names);
  m.def("condensed", &Condensed);
  m.def("square", &Square);
}
