#pragma once
// Binary rows packed into 64-bit words for counting frequency tables with
// population counts: one bit per character in a presence mask and one in an
// absence mask, an unknown state having neither bit.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "distance/kernels/kernels.hpp"
#include "model/model.hpp"

namespace Karvel::Phylo::Distfunc::Detail {

using Frequency_Table = Kernels::Frequency_Table;

class Packed_Rows {
public:
  // Packs every row of an aligned matrix; rows are taken by position, not by
  // their index ranges. The counting follows the instruction-set path in use.
  explicit Packed_Rows(const Binary_Matrix& matrix);

  // The frequency table of taxa i and j (taxon numbers of the matrix).
  // Between rows without unknowns, a alone is counted: b, c and d follow
  // from the rows' numbers of presences and the number of characters.
  Frequency_Table Table(int i, int j) const {
    const auto ri = static_cast<std::size_t>(i - first_);
    const auto rj = static_cast<std::size_t>(j - first_);
    if (fully_known_[ri] && fully_known_[rj]) {
      const int a = count_common_(presence(i), presence(j), words_);
      return {a, presences_[ri] - a, presences_[rj] - a, characters_ - presences_[ri] - presences_[rj] + a};
    }
    return count_table_(presence(i), presence(j), words_);
  }

private:
  // Row r occupies 2 * words_ words: its presence mask, then its absence mask.
  const std::uint64_t* presence(int taxon) const {
    return bits_.data() + static_cast<std::size_t>(taxon - first_) * 2 * words_;
  }
  const std::uint64_t* absence(int taxon) const { return presence(taxon) + words_; }

  int first_;
  int characters_;
  std::size_t words_;
  std::vector<std::uint64_t> bits_;
  std::vector<int> presences_;          // per row
  std::vector<unsigned char> fully_known_; // per row: no character unknown
  // The counters of the instruction set in use (tests choose it).
  Frequency_Table (*count_table_)(const std::uint64_t*, const std::uint64_t*, std::size_t);
  int (*count_common_)(const std::uint64_t*, const std::uint64_t*, std::size_t);
};

} // namespace Karvel::Phylo::Distfunc::Detail
