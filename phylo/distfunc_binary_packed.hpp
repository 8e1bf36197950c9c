#pragma once
// Binary rows packed into 64-bit words for counting frequency tables with
// population counts: one bit per character in a presence mask and one in an
// absence mask, an unknown state having neither bit.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "phylo/phylo.hpp"

namespace Phylo::Distfunc::Detail {

// The 2 x 2 table of a pair of taxa x and y over the characters known in
// both: a = present in both, b = present in x only, c = present in y only,
// d = absent from both.
struct Frequency_Table {
  int a = 0;
  int b = 0;
  int c = 0;
  int d = 0;
  bool operator==(const Frequency_Table&) const = default;
};

class Packed_Rows {
public:
  // Packs every row of an aligned matrix; rows are taken by position, not by
  // their index ranges.
  explicit Packed_Rows(const Binary_Matrix& matrix);

  // The frequency table of taxa i and j (taxon numbers of the matrix).
  Frequency_Table Table(int i, int j) const {
    const std::uint64_t* px = presence(i);
    const std::uint64_t* ax = absence(i);
    const std::uint64_t* py = presence(j);
    const std::uint64_t* ay = absence(j);
    Frequency_Table t;
    for (std::size_t w = 0; w < words_; ++w) {
      t.a += std::popcount(px[w] & py[w]);
      t.b += std::popcount(px[w] & ay[w]);
      t.c += std::popcount(ax[w] & py[w]);
      t.d += std::popcount(ax[w] & ay[w]);
    }
    return t;
  }

private:
  // Row r occupies 2 * words_ words: its presence mask, then its absence mask.
  const std::uint64_t* presence(int taxon) const {
    return bits_.data() + static_cast<std::size_t>(taxon - first_) * 2 * words_;
  }
  const std::uint64_t* absence(int taxon) const { return presence(taxon) + words_; }

  int first_;
  std::size_t words_;
  std::vector<std::uint64_t> bits_;
};

} // namespace Phylo::Distfunc::Detail
