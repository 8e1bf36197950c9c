#include "transform/disc_to_binary.hpp"

#include <string>

namespace Karvel::Phylo::Disc_To_Binary {

namespace {

// The table is indexed by the character's code: a plain char may be signed,
// and codes 128..255 must not land before the table.
Binary Lookup(const Binary_Translator& table, char value) {
  return table[static_cast<unsigned char>(value)];
}

} // namespace

std::vector<Binary> Translate(std::span<const char> source, const Binary_Translator& table) {
  std::vector<Binary> result;
  result.reserve(source.size());
  for (char value : source) result.push_back(Lookup(table, value));
  return result;
}

Binary_Matrix Translate(const Disc_Matrix& source, const Binary_Translator& table) {
  Binary_Matrix result;
  result.Reserve_Rows(static_cast<std::size_t>(source.Rows()));
  result.Reserve_Values(source.Values());
  for (int i = 0; i < source.Rows(); ++i) {
    // Values go straight into the new matrix's block; no row is staged.
    for (char value : source.Row(i)) result.Push(Lookup(table, value));
    result.Close_Row();
  }
  return result;
}

} // namespace Karvel::Phylo::Disc_To_Binary
