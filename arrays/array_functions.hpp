#pragma once
// Vector and matrix operations written once over the element type and
// instantiated per kind of character (the "Basic" module of each kind).

#include <charconv>
#include <cmath>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "diagnostics/errors.hpp"
#include "arrays/row_matrix.hpp"

namespace Karvel::Generic {

// The shortest text that reads back as the same double, for messages:
// -1e-17 must not show up as "-0.000000".
inline std::string Image(double x) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, x);
  return std::string(text, result.ptr);
}

// Kind supplies `static constexpr const char* Size_Error_Name`, the name
// under which that kind's Size_Error is reported.
template <class Element, class Kind>
struct Generic_Array_Functions {
  using Matrix = Row_Matrix<Element>;

  // Rows that differ in length where equal lengths are needed.
  class Size_Error : public Errors::Error {
  public:
    explicit Size_Error(const std::string& message) : Errors::Error(Kind::Size_Error_Name, message) {}
  };

  // True when every row has as many elements as the first one. A matrix
  // without rows has no answer: Constraint_Error.
  static bool Is_Aligned(const Matrix& m) {
    if (m.Rows() == 0) throw Errors::Constraint_Error("index check failed: the matrix has no rows");
    const int length = m.Row_Length(0);
    for (int i = 1; i < m.Rows(); ++i)
      if (m.Row_Length(i) != length) return false;
    return true;
  }

  // Throws Size_Error unless the matrix is aligned; `what` names the caller
  // for the message.
  static void Require_Aligned(const Matrix& m, const char* what) {
    if (Is_Aligned(m)) return;
    const int length = m.Row_Length(0);
    for (int i = 1; i < m.Rows(); ++i)
      if (m.Row_Length(i) != length)
        throw Size_Error(std::string(what) + ": row " + std::to_string(i + 1) + " has " +
                         std::to_string(m.Row_Length(i)) + " values, row 1 has " +
                         std::to_string(length));
  }

  static Element Max(Element left, Element right) { return left > right ? left : right; }
  static Element Min(Element left, Element right) { return left < right ? left : right; }
};

template <class Kind>
struct Generic_Float_Functions {
  using Basic = Generic_Array_Functions<double, Kind>;
  using Matrix = typename Basic::Matrix;

  // One sum per row, each from its first value on, in ascending order.
  static std::vector<double> Sum(const Matrix& m) {
    return Row_Sums(m, [](double x) { return x; });
  }

  // Per row, the terms of its values added from the first value on. Rows of
  // one length are summed four at a time: four independent chains of
  // additions instead of one, each still in its row's order.
  template <class Term>
  static std::vector<double> Row_Sums(const Matrix& m, Term term) {
    std::vector<double> sums(static_cast<std::size_t>(m.Rows()));
    auto check = [&](int i) {
      if (m.Row(i).empty())
        throw Errors::Constraint_Error("index check failed: row " + std::to_string(i + 1) +
                                       " has no values to sum");
    };
    auto one = [&](int i) {
      check(i);
      std::span<const double> row = m.Row(i);
      double s = term(row[0]);
      for (std::size_t k = 1; k < row.size(); ++k) s = s + term(row[k]);
      sums[static_cast<std::size_t>(i)] = s;
    };
    int i = 0;
    for (; i + 3 < m.Rows(); i += 4) {
      for (int r = 0; r < 4; ++r) check(i + r);
      const std::span<const double> a = m.Row(i), b = m.Row(i + 1), c = m.Row(i + 2), d = m.Row(i + 3);
      if (a.size() != b.size() || a.size() != c.size() || a.size() != d.size()) {
        for (int r = 0; r < 4; ++r) one(i + r);
        continue;
      }
      double sa = term(a[0]), sb = term(b[0]), sc = term(c[0]), sd = term(d[0]);
      for (std::size_t k = 1; k < a.size(); ++k) {
        sa = sa + term(a[k]);
        sb = sb + term(b[k]);
        sc = sc + term(c[k]);
        sd = sd + term(d[k]);
      }
      double* out = &sums[static_cast<std::size_t>(i)];
      out[0] = sa;
      out[1] = sb;
      out[2] = sc;
      out[3] = sd;
    }
    for (; i < m.Rows(); ++i) one(i);
    return sums;
  }

  static double Max(double left, double right) { return Basic::Max(left, right); }
  static double Min(double left, double right) { return Basic::Min(left, right); }

  static double Sqrt(double x) {
    if (x < 0.0)
      throw Errors::Argument_Error("square root of a negative number (" + Image(x) + ")");
    if (x == 0.0) return 0.0;
    return std::sqrt(x);
  }

  static double Arccos(double x) {
    if (std::fabs(x) > 1.0)
      throw Errors::Argument_Error("arc cosine of a number beyond -1 .. 1 (" + Image(x) + ")");
    if (x == 1.0) return 0.0;
    if (x == -1.0) return Pi;
    if (std::fabs(x) < Sqrt_Epsilon) return Half_Pi - x;
    return std::acos(x);
  }

  static constexpr double Pi = 3.14159265358979323846;
  static constexpr double Half_Pi = 1.57079632679489661923;
  static constexpr double Sqrt_Epsilon = 1.4901161193847656e-8;
};

} // namespace Karvel::Generic
