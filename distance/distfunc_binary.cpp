// Similarity coefficients of binary characters, returned as distances. A
// pair of taxa is reduced to its frequency table over the characters known
// in both; unknown states take no part.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

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

// The distance of a pair, before the range check.
template <Binary_Formula F>
double Distance(const Frequency_Table& table) {
  constexpr auto finish = Formulas::Row_Of(F).Finish.Function;
  return finish(table.a, table.b, table.c, table.d);
}

std::string Counts(const Frequency_Table& t) {
  return "a = " + std::to_string(t.a) + ", b = " + std::to_string(t.b) + ", c = " + std::to_string(t.c) +
         ", d = " + std::to_string(t.d);
}

// Why a formula gave a value outside the distance range, in terms of the
// table: almost always a denominator that vanished.
std::string Reason(Binary_Formula formula, const Frequency_Table& t) {
  if (t.a + t.b + t.c + t.d == 0) return "no character is known in both taxa";
  const std::string reason = Formulas::Row_Of(formula).Cause.Function(t);
  return reason.empty() ? Counts(t) : reason;
}

[[noreturn]] [[gnu::cold]] void Fail(Binary_Formula formula, int i, int j, double value, const Frequency_Table& table) {
  throw Pair_Range_Error(Detail::Range_Message(Name(formula), value, Reason(formula, table)), i, j);
}

template <Binary_Formula F>
Generic::Square_Block Fill(const Detail::Packed_Rows& packed, int taxa, Undefined_Pairs* undefined) {
  return Detail::Fill_Pairs(
      0, taxa - 1, [&](int i, int j) { return Distance<F>(packed.Table(i, j)); },
      [&](int i, int j, double value) { Fail(F, i, j, value, packed.Table(i, j)); }, undefined);
}

} // namespace

namespace Formulas::Binary_Causes {

std::string None(const Frequency_Table&) { return {}; }

std::string No_Presence(const Frequency_Table& t) {
  if (t.a + t.b + t.c == 0) return "no presence in either taxon among the known characters";
  return {};
}

std::string Differ_Everywhere(const Frequency_Table& t) {
  if (t.a + t.d == 0) return "a + d = 0: the taxa differ at every known character";
  return {};
}

std::string Kulczynski(const Frequency_Table& t) {
  if (t.b + t.c == 0) return "b + c = 0: the taxa agree at every known character";
  if (t.a > t.b + t.c) return "a = " + std::to_string(t.a) + " > b + c = " + std::to_string(t.b + t.c);
  return {};
}

// In the order a + b, a + c, b + d, c + d.
std::string Empty_Marginal(const Frequency_Table& t) {
  if (t.a + t.b == 0) return "a + b = 0: the first taxon has no presence among the known characters";
  if (t.a + t.c == 0) return "a + c = 0: the second taxon has no presence among the known characters";
  if (t.b + t.d == 0) return "b + d = 0: the second taxon has no absence among the known characters";
  if (t.c + t.d == 0) return "c + d = 0: the first taxon has no absence among the known characters";
  return {};
}

std::string Yule(const Frequency_Table& t) {
  // Checked in integers: a * d + b * c cannot overflow in 64 bits.
  if (static_cast<long long>(t.a) * t.d + static_cast<long long>(t.b) * t.c == 0)
    return "a * d + b * c = 0 with " + Counts(t);
  return {};
}

} // namespace Formulas::Binary_Causes

Generic::Square_Block Distances(const Binary_Matrix& matrix, Binary_Formula formula, Undefined_Pairs* undefined) {
  // Packing checks that the rows are aligned before anything is computed.
  const Detail::Packed_Rows packed(matrix);
  std::optional<Generic::Square_Block> result;
  Formulas::With_Formula(formula, [&](auto f) { result.emplace(Fill<decltype(f)::value>(packed, matrix.Rows(), undefined)); });
  return std::move(*result);
}

} // namespace Karvel::Phylo::Distfunc

namespace Karvel::Phylo::Distfunc {

namespace {

template <Binary_Formula F>
class Binary_Rows final : public Row_Distances {
public:
  explicit Binary_Rows(const Binary_Matrix& matrix) : packed_(matrix), taxa_(matrix.Rows()) {}
  int Taxa() const override { return taxa_; }
  Failed_Pair Compute(int first, int past, Row_Part part, Pair_Order order, double* rows,
                      Undefined_Pairs* undefined) const override {
    return Detail::Fill_Rows(
        taxa_, first, past, part, order, rows, undefined,
        [&](int i, int j) { return Distance<F>(packed_.Table(i, j)); }, [&](int i, int j) { Raise(i, j); });
  }
  [[noreturn]] void Raise(int i, int j) const override {
    Fail(F, i, j, Distance<F>(packed_.Table(i, j)), packed_.Table(i, j));
  }

private:
  Detail::Packed_Rows packed_;
  int taxa_;
};

} // namespace

std::unique_ptr<Row_Distances> Row_Distances_Of(const Binary_Matrix& matrix, Binary_Formula formula) {
  std::unique_ptr<Row_Distances> rows;
  Formulas::With_Formula(formula, [&](auto f) { rows = std::make_unique<Binary_Rows<decltype(f)::value>>(matrix); });
  return rows;
}

} // namespace Karvel::Phylo::Distfunc
