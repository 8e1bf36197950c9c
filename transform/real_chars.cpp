#include "transform/real_chars.hpp"

#include <charconv>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace Phylo::Real_Chars {
namespace {

// An aligned matrix is one row-major block, so every step below walks it row
// after row and keeps per-column statistics in vectors indexed by column:
// memory is touched in order and nothing is allocated per value.
class Block {
public:
  Block(double* data, std::size_t rows, std::size_t columns) : data_(data), n_(rows), p_(columns) {}

  std::size_t Rows() const { return n_; }
  std::size_t Columns() const { return p_; }
  std::span<double> Row(std::size_t i) const { return {data_ + i * p_, p_}; }

private:
  double* data_;
  std::size_t n_;
  std::size_t p_;
};

// Every statistic is gathered by a first pass over the values as they were
// on entry; only then does a second pass rewrite them. Sums start from 0.0
// and add in ascending taxon and character order, so results do not depend
// on how the block happens to be walked.

std::vector<double> row_sums(const Block& b) {
  std::vector<double> sums(b.Rows());
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    double s = 0.0;
    for (double x : b.Row(i)) s = s + x;
    sums[i] = s;
  }
  return sums;
}

std::vector<double> column_sums(const Block& b) {
  std::vector<double> sums(b.Columns(), 0.0);
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<const double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j) sums[j] = sums[j] + row[j];
  }
  return sums;
}

// A zero total has nothing to share out: its values become zeros.
double reciprocal_or_zero(double total) { return total == 0.0 ? 0.0 : 1.0 / total; }

void make_row_fractions(const Block& b) {
  const std::vector<double> sums = row_sums(b);
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const double f = reciprocal_or_zero(sums[i]);
    for (double& x : b.Row(i)) x = x * f;
  }
}

void make_col_fractions(const Block& b) {
  std::vector<double> factors = column_sums(b);
  for (double& c : factors) c = reciprocal_or_zero(c);
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = row[j] * factors[j];
  }
}

std::string shortest(double x) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, x);
  return std::string(text, result.ptr);
}

// sqrt(p / c): p is the number of characters, not the grand total. A
// negative column sum can only come from negative data; it is refused here,
// while the factors are formed and before any value has changed.
double chi_factor(double characters, double column_sum, std::size_t column) {
  if (column_sum == 0.0) return 0.0;
  const double ratio = characters / column_sum;
  if (ratio < 0.0)
    throw Errors::Argument_Error("square root of a negative number in the chi-square conversion: character " +
                                 std::to_string(column + 1) + " sums to " + shortest(column_sum));
  return Sqrt(ratio);
}

void chi_conversion(const Block& b) {
  const std::vector<double> sums = row_sums(b);
  std::vector<double> factors = column_sums(b);
  const double characters = static_cast<double>(b.Columns());
  for (std::size_t j = 0; j < factors.size(); ++j) factors[j] = chi_factor(characters, factors[j], j);
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const double f = reciprocal_or_zero(sums[i]);
    const std::span<double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = (row[j] * f) * factors[j];
  }
}

// Column extremes fold from the first taxon on with the element Max and Min,
// like the reductions of the matrix operations.
struct Column_Extremes {
  std::vector<double> lo;
  std::vector<double> hi;
};

Column_Extremes column_extremes(const Block& b, bool want_minima) {
  const std::span<const double> first = b.Row(0);
  Column_Extremes e;
  e.hi.assign(first.begin(), first.end());
  if (want_minima) e.lo.assign(first.begin(), first.end());
  for (std::size_t i = 1; i < b.Rows(); ++i) {
    const std::span<const double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j) e.hi[j] = Max(e.hi[j], row[j]);
    if (want_minima)
      for (std::size_t j = 0; j < row.size(); ++j) e.lo[j] = Min(e.lo[j], row[j]);
  }
  return e;
}

// Divides by the column maximum, not the range: a column whose maximum is
// negative changes sign, and one whose maximum is zero is left alone.
void range_it(const Block& b) {
  const std::vector<double> maxima = column_extremes(b, false).hi;
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j)
      if (maxima[j] != 0.0) row[j] = row[j] / maxima[j];
  }
}

// A column without spread sits in the middle of the unit interval.
void fully_range_it(const Block& b) {
  Column_Extremes e = column_extremes(b, true);
  std::vector<double>& widths = e.hi;
  for (std::size_t j = 0; j < widths.size(); ++j) widths[j] = widths[j] - e.lo[j];
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j)
      row[j] = widths[j] == 0.0 ? 0.5 : (row[j] - e.lo[j]) / widths[j];
  }
}

struct Column_Moments {
  std::vector<double> mean;
  std::vector<double> sd;
};

// Population mean and standard deviation (divisor n) from the sum and the
// sum of squares. Rounding makes the variance of a constant column come out
// a little off zero, on either side (0.7 in five taxa goes negative, 0.3 in
// three taxa gives 3.7e-17, which would blow 0.3 up to 49314742.2). So a
// column whose values are all equal has deviation 0.0 whatever the sums say,
// and so has any column whose computed variance is not positive.
Column_Moments avg_var(const Block& b) {
  const std::size_t p = b.Columns();
  std::vector<double> s(p, 0.0);
  std::vector<double> q(p, 0.0);
  std::vector<unsigned char> varies(p, 0);
  const std::span<const double> first = b.Row(0);
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<const double> row = b.Row(i);
    for (std::size_t j = 0; j < p; ++j) {
      const double x = row[j];
      s[j] = s[j] + x;
      q[j] = q[j] + x * x;
      varies[j] |= static_cast<unsigned char>(x != first[j]);
    }
  }
  const double k = 1.0 / static_cast<double>(b.Rows());
  // The sums turn into the moments in place.
  for (std::size_t j = 0; j < p; ++j) {
    const double v = (q[j] - s[j] * s[j] * k) * k;
    s[j] = s[j] * k;
    q[j] = (varies[j] == 0 || v <= 0.0) ? 0.0 : Sqrt(v);
  }
  return {std::move(s), std::move(q)};
}

// The mean is not subtracted; a column without spread is left alone.
void z_it(const Block& b) {
  const std::vector<double> sd = avg_var(b).sd;
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j)
      if (sd[j] != 0.0) row[j] = row[j] / sd[j];
  }
}

void fully_z_it(const Block& b) {
  const Column_Moments m = avg_var(b);
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j)
      row[j] = m.sd[j] == 0.0 ? 0.0 : (row[j] - m.mean[j]) / m.sd[j];
  }
}

struct Located {
  double value;
  std::size_t location;  // position of the value in its row
};

bool less(const Located& a, const Located& b) { return a.value < b.value; }

// The ranking sort is a heap sort whose sift first runs down to a leaf along
// the larger sons and then climbs back to where Temp belongs. Ties end up in
// the order this particular procedure leaves them, and that order is the
// rank they get (and so the Spearman distance): do not swap in another sort.
// Positions are 1 .. m as in the usual heap arithmetic.
class Location_Sort {
public:
  explicit Location_Sort(std::span<Located> a) : a_(a) {}

  void Run() {
    std::size_t m = a_.size();
    for (std::size_t j = m / 2; j >= 1; --j) sift(j, m, at(j));
    while (m > 1) {
      const Located temp = at(m);
      at(m) = at(1);
      m = m - 1;
      sift(1, m, temp);
    }
  }

private:
  Located& at(std::size_t position) { return a_[position - 1]; }

  void sift(std::size_t s, std::size_t m, const Located temp) {
    std::size_t cur = s;
    for (std::size_t son = 2 * cur; son <= m; son = 2 * cur) {
      if (son < m && less(at(son), at(son + 1))) son = son + 1;
      at(cur) = at(son);
      cur = son;
    }
    while (cur != s) {
      const std::size_t father = cur / 2;
      if (!less(at(father), temp)) break;
      at(cur) = at(father);
      cur = father;
    }
    at(cur) = temp;
  }

  std::span<Located> a_;
};

// Ranks are the row's own character numbers, smallest value first; equal
// values get distinct consecutive ranks, never a shared mean rank.
void to_ranks(Real_Matrix& matrix, const Block& b) {
  std::vector<Located> pairs(b.Columns());
  for (std::size_t i = 0; i < b.Rows(); ++i) {
    const std::span<double> row = b.Row(i);
    for (std::size_t j = 0; j < row.size(); ++j) pairs[j] = {row[j], j};
    Location_Sort(pairs).Run();
    const int first_character = matrix.Row_First(matrix.First() + static_cast<int>(i));
    for (std::size_t k = 0; k < pairs.size(); ++k)
      row[pairs[k].location] = static_cast<double>(first_character + static_cast<int>(k));
  }
}

const char* name_of(Transformation t) {
  switch (t) {
  case Transformation::ROW_FRACTIONS: return "row fractions";
  case Transformation::COLUMN_FRACTIONS: return "column fractions";
  case Transformation::FOR_CHI: return "chi-square conversion";
  case Transformation::RANGING: return "ranging";
  case Transformation::FULL_RANGING: return "full ranging";
  case Transformation::Z_SCORES: return "standardization";
  case Transformation::FULL_Z_SCORES: return "z scores";
  case Transformation::RANKS: return "row-wise ranks";
  }
  return "transformation";
}

} // namespace

void Transform_Matrix(Real_Matrix& matrix, Transformation transformation) {
  const std::string what = std::string("the ") + name_of(transformation) + " needs rows of equal length";
  Basic::Require_Aligned(matrix, what.c_str());

  const std::size_t p = static_cast<std::size_t>(matrix.Row_Length(matrix.First()));
  if (p == 0) return;
  const Block b(matrix.Row(matrix.First()).data(), static_cast<std::size_t>(matrix.Rows()), p);

  switch (transformation) {
  case Transformation::ROW_FRACTIONS: make_row_fractions(b); break;
  case Transformation::COLUMN_FRACTIONS: make_col_fractions(b); break;
  case Transformation::FOR_CHI: chi_conversion(b); break;
  case Transformation::RANGING: range_it(b); break;
  case Transformation::FULL_RANGING: fully_range_it(b); break;
  case Transformation::Z_SCORES: z_it(b); break;
  case Transformation::FULL_Z_SCORES: fully_z_it(b); break;
  case Transformation::RANKS: to_ranks(matrix, b); break;
  }
}

} // namespace Phylo::Real_Chars
