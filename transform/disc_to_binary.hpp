#pragma once
// Recoding discrete characters into binary ones through a lookup table.

#include <array>
#include <span>
#include <vector>

#include "model/model.hpp"

namespace Karvel::Phylo::Disc_To_Binary {

// One binary value for every character code 0..255.
using Binary_Translator = std::array<Binary, 256>;

std::vector<Binary> Translate(std::span<const char> source, const Binary_Translator& table);
// A new matrix with one translated row for every row of the source.
Binary_Matrix Translate(const Disc_Matrix& source, const Binary_Translator& table);

} // namespace Karvel::Phylo::Disc_To_Binary
