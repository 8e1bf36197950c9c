// Formulas and transformations as values: each is looked up once, by name,
// and the calls that take one forward it by that name, so that there is one
// path through the library whichever way a caller names a formula.

#include <algorithm>
#include <string>

#include "karvel/karvel.hpp"

namespace Karvel::Lib {

namespace {

const char* Kind(Datatype type) {
  switch (type) {
  case Datatype::BINARY: return "binary";
  case Datatype::DISCRETE: return "discrete";
  case Datatype::MIXED: return "mixed";
  case Datatype::CONTINUOUS: break;
  }
  return "continuous";
}

std::string Listed(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
  return list;
}

const std::string& Of_Data(const Matrix& data, const Formula& formula) {
  if (formula.Type() != data.Type())
    throw Errors::Constraint_Error("the " + std::string(Kind(formula.Type())) + " distance formula " + formula.Name() +
                                   " does not apply to " + Kind(data.Type()) + " characters");
  return formula.Name();
}

} // namespace

Transformation Transformation_Named(std::string_view name) {
  const std::vector<std::string> names = Transformation_Names();
  if (std::find(names.begin(), names.end(), name) == names.end())
    throw Errors::Constraint_Error("there is no transformation named \"" + std::string(name) + "\" (there are " +
                                   Listed(names) + ")");
  return Transformation(std::string(name));
}

Formula Formula_Named(Datatype type, std::string_view name) {
  const std::vector<std::string> names = Formula_Names(type);
  if (std::find(names.begin(), names.end(), name) == names.end())
    throw Errors::Constraint_Error("there is no " + std::string(Kind(type)) + " distance formula named \"" +
                                   std::string(name) + "\" (there are " + Listed(names) + ")");
  return Formula(type, std::string(name));
}

void Transform(Matrix& data, const Transformation& transformation) { Transform(data, transformation.Name()); }

void Distances(const Matrix& data, const Formula& formula, std::span<double> square) {
  Distances(data, Of_Data(data, formula), square);
}

void Distances(const Matrix& data, const Formula& formula, std::span<double> square, const Options& options) {
  Distances(data, Of_Data(data, formula), square, options);
}

void Condensed_Distances(const Matrix& data, const Formula& formula, std::span<double> condensed,
                         const Options& options) {
  Condensed_Distances(data, Of_Data(data, formula), condensed, options);
}

void Distances(const Matrix& data, const Formula& formula, int max_rows,
               const std::function<void(const Distance_Rows&)>& take) {
  Distances(data, Of_Data(data, formula), max_rows, take);
}

void Write_Distances(Output& output, const Matrix& data, const Formula& formula, Output_Layout layout) {
  Write_Distances(output, data, Of_Data(data, formula), layout);
}

void Write_Distances_To_File(const std::string& path, const Matrix& data, const Formula& formula,
                             Output_Layout layout, std::size_t memory) {
  Write_Distances_To_File(path, data, Of_Data(data, formula), layout, memory);
}

} // namespace Karvel::Lib
