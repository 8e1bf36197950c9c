#pragma once
// General string operations: character sets and character mappings.

#include <array>
#include <bitset>
#include <string>
#include <string_view>

namespace Karvel::TextUtils {

// A set of 8-bit characters, indexed by the character's code 0..255.
using Character_Set = std::bitset<256>;
// A mapping of every 8-bit character to a character.
using Character_Mapping = std::array<char, 256>;

inline bool Is_In(char c, const Character_Set& set) { return set[static_cast<unsigned char>(c)]; }

// The set of the characters from `low` to `high` (codes, inclusive).
Character_Set Range(int low, int high);
// The set of the characters of a text.
Character_Set To_Set(std::string_view members);

// The mapping that sends every member of `set` to `replacement` and leaves
// every other character as it is.
Character_Mapping Map_All(const Character_Set& set, char replacement);

// The text with every character sent through the mapping.
std::string Translate(std::string_view text, const Character_Mapping& mapping);

// The text without the leading and trailing members of `set`.
std::string_view Trim(std::string_view text, const Character_Set& set);

} // namespace Karvel::TextUtils
