// Similarity coefficients of binary characters, returned as distances. A
// pair of taxa is reduced to its frequency table over the characters known
// in both; unknown states take no part.

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "distance/distfunc.hpp"
#include "distance/formulas.hpp"
#include "distance/distfunc_binary_packed.hpp"
#include "distance/distfunc_pairs.hpp"

namespace Karvel::Phylo::Distfunc {

const char* Name(Binary_Formula formula) { return Formulas::Row_Of(formula).Name; }

namespace Detail {

Packed_Rows::Packed_Rows(const Binary_Matrix& matrix)
    : first_(0), characters_(0), words_(0), count_table_(Kernels::Kernels().Binary_Counts.Count_Table),
      count_common_(Kernels::Kernels().Binary_Counts.Count_Common) {
  Binary_Chars::Basic::Require_Aligned(matrix, "binary distances");
  const std::size_t n = static_cast<std::size_t>(matrix.Row_Length(0));
  characters_ = static_cast<int>(n);
  words_ = (n + 63) / 64;
  const auto rows = static_cast<std::size_t>(matrix.Rows());
  bits_.assign(rows * 2 * words_, 0);
  presences_.assign(rows, 0);
  fully_known_.assign(rows, 0);
  for (int i = 0; i < matrix.Rows(); ++i) {
    const auto r = static_cast<std::size_t>(i - first_);
    std::uint64_t* p = bits_.data() + r * 2 * words_;
    std::uint64_t* a = p + words_;
    const std::span<const Binary> row = matrix.Row(i);
    int present = 0, known = 0;
    for (std::size_t t = 0; t < n; ++t) {
      const unsigned shift = static_cast<unsigned>(t % 64);
      const bool is_present = row[t] == Binary::PRESENCE, is_absent = row[t] == Binary::ABSENCE;
      p[t / 64] |= static_cast<std::uint64_t>(is_present) << shift;
      a[t / 64] |= static_cast<std::uint64_t>(is_absent) << shift;
      present += is_present;
      known += is_present || is_absent;
    }
    presences_[r] = present;
    fully_known_[r] = known == characters_;
  }
}

} // namespace Detail

namespace {

using Detail::Frequency_Table;

// Each form keeps the operation order of its published definition (sums
// left to right, products of several factors left to right), so results
// are identical from run to run and machine to machine. The counts are
// exact in double, which makes all the integer sums exact as well.
double Distance(Binary_Formula formula, const Frequency_Table& table) {
  const double a = table.a;
  const double b = table.b;
  const double c = table.c;
  const double d = table.d;
  auto n = [&] { return ((a + b) + c) + d; };
  switch (formula) {
  case Binary_Formula::HAMANN: return 0.5 - ((((a + d) - b) - c) * 0.5) / n();
  case Binary_Formula::MATCHING: return (b + c) / n();
  case Binary_Formula::ROGERS_TANIMOTO: return (b + c) / ((a + d) * 0.5 + (b + c));
  case Binary_Formula::SOKAL_SNEATH_1: return (b + c) / ((((a + d) + (a + d)) + b) + c);
  case Binary_Formula::SOKAL_SNEATH_2: return (b + c) / (a + d);
  case Binary_Formula::SOKAL_SNEATH_3:
    return 1.0 - (((a / (a + b) + a / (a + c)) + d / (b + d)) + d / (c + d)) * 0.25;
  case Binary_Formula::SOKAL_SNEATH_4:
    return 1.0 - (a * d) / std::sqrt(((a + b) * (a + c)) * (b + d) * (c + d));
  case Binary_Formula::YULE: return (b * c) / (a * d + b * c);
  case Binary_Formula::PHI:
    return 0.5 - ((a * d - b * c) * 0.5) / std::sqrt(((a + b) * (c + d)) * (a + c) * (b + d));
  case Binary_Formula::JACCARD: return (b + c) / ((a + b) + c);
  case Binary_Formula::SOERENSEN: return (b + c) / (((a + a) + b) + c);
  case Binary_Formula::TRIPLE_WEIGHT: return (b + c) / ((a * 3.0 + b) + c);
  case Binary_Formula::ROGERS_TANIMOTO_ASYMMETRIC: return (b + c) / ((a * 0.5 + b) + c);
  case Binary_Formula::RUSSELL_RAO: return 1.0 - a / n();
  case Binary_Formula::KULCZYNSKI: return 1.0 - a / (b + c);
  case Binary_Formula::KULCZYNSKI_2: return 1.0 - (a / (a + b) + a / (a + c)) * 0.5;
  case Binary_Formula::OCHIAI: return 1.0 - a / std::sqrt((a + b) * (a + c));
  case Binary_Formula::FAGER:
    return (1.0 - a / std::sqrt((a + b) * (a + c))) + 0.5 / std::sqrt(Real_Chars::Max(b, c) + a);
  case Binary_Formula::FAITH: return 1.0 - (d * 0.5 + a) / n();
  }
  return 0.0;
}

std::string Counts(const Frequency_Table& t) {
  return "a = " + std::to_string(t.a) + ", b = " + std::to_string(t.b) + ", c = " + std::to_string(t.c) +
         ", d = " + std::to_string(t.d);
}

// The first empty marginal of the table, in the order a + b, a + c, b + d,
// c + d; empty when there is none.
std::string Empty_Marginal(const Frequency_Table& t) {
  if (t.a + t.b == 0) return "a + b = 0: the first taxon has no presence among the known characters";
  if (t.a + t.c == 0) return "a + c = 0: the second taxon has no presence among the known characters";
  if (t.b + t.d == 0) return "b + d = 0: the second taxon has no absence among the known characters";
  if (t.c + t.d == 0) return "c + d = 0: the first taxon has no absence among the known characters";
  return {};
}

// Why a formula gave a value outside the distance range, in terms of the
// table: almost always a denominator that vanished.
std::string Reason(Binary_Formula formula, const Frequency_Table& t) {
  if (t.a + t.b + t.c + t.d == 0) return "no character is known in both taxa";
  std::string reason;
  switch (formula) {
  case Binary_Formula::JACCARD:
  case Binary_Formula::SOERENSEN:
  case Binary_Formula::TRIPLE_WEIGHT:
  case Binary_Formula::ROGERS_TANIMOTO_ASYMMETRIC:
    if (t.a + t.b + t.c == 0) reason = "no presence in either taxon among the known characters";
    break;
  case Binary_Formula::SOKAL_SNEATH_2:
    if (t.a + t.d == 0) reason = "a + d = 0: the taxa differ at every known character";
    break;
  case Binary_Formula::KULCZYNSKI:
    if (t.b + t.c == 0)
      reason = "b + c = 0: the taxa agree at every known character";
    else if (t.a > t.b + t.c)
      reason = "a = " + std::to_string(t.a) + " > b + c = " + std::to_string(t.b + t.c);
    break;
  case Binary_Formula::KULCZYNSKI_2:
  case Binary_Formula::OCHIAI:
  case Binary_Formula::FAGER:
  case Binary_Formula::SOKAL_SNEATH_3:
  case Binary_Formula::SOKAL_SNEATH_4:
  case Binary_Formula::PHI:
    reason = Empty_Marginal(t);
    break;
  case Binary_Formula::YULE:
    // Checked in integers: a * d + b * c cannot overflow in 64 bits.
    if (static_cast<long long>(t.a) * t.d + static_cast<long long>(t.b) * t.c == 0)
      reason = "a * d + b * c = 0 with " + Counts(t);
    break;
  default: break;
  }
  return reason.empty() ? Counts(t) : reason;
}

[[noreturn]] void Fail(Binary_Formula formula, int i, int j, double value, const Frequency_Table& table) {
  throw Pair_Range_Error(Detail::Range_Message(Name(formula), value, Reason(formula, table)), i, j);
}

} // namespace

Generic::Square_Block Distances(const Binary_Matrix& matrix, Binary_Formula formula, Undefined_Pairs* undefined) {
  // Packing checks that the rows are aligned before anything is computed.
  const Detail::Packed_Rows packed(matrix);
  return Detail::Fill_Pairs(
      0, matrix.Rows() - 1, [&](int i, int j) { return Distance(formula, packed.Table(i, j)); },
      [&](int i, int j, double value) { Fail(formula, i, j, value, packed.Table(i, j)); }, undefined);
}

} // namespace Karvel::Phylo::Distfunc

namespace Karvel::Phylo::Distfunc {

namespace {

class Binary_Rows final : public Row_Distances {
public:
  Binary_Rows(const Binary_Matrix& matrix, Binary_Formula formula)
      : packed_(matrix), formula_(formula), taxa_(matrix.Rows()) {}
  int Taxa() const override { return taxa_; }
  Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined) const override {
    return Detail::Fill_Rows(
        taxa_, first, past, part, order, rows, undefined,
        [&](int i, int j) { return Distance(formula_, packed_.Table(i, j)); }, [&](int i, int j) { Raise(i, j); });
  }
  [[noreturn]] void Raise(int i, int j) const override {
    Fail(formula_, i, j, Distance(formula_, packed_.Table(i, j)), packed_.Table(i, j));
  }

private:
  Detail::Packed_Rows packed_;
  Binary_Formula formula_;
  int taxa_;
};

} // namespace

std::unique_ptr<Row_Distances> Row_Distances_Of(const Binary_Matrix& matrix, Binary_Formula formula) {
  return std::make_unique<Binary_Rows>(matrix, formula);
}

} // namespace Karvel::Phylo::Distfunc
