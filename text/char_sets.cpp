#include "text/char_sets.hpp"

namespace Karvel::TextUtils {

Character_Set Range(int low, int high) {
  Character_Set set;
  for (int c = low; c <= high; ++c) set.set(static_cast<std::size_t>(c));
  return set;
}

Character_Set To_Set(std::string_view members) {
  Character_Set set;
  for (char c : members) set.set(static_cast<unsigned char>(c));
  return set;
}

Character_Mapping Map_All(const Character_Set& set, char replacement) {
  Character_Mapping mapping;
  for (int c = 0; c < 256; ++c)
    mapping[static_cast<std::size_t>(c)] = set[static_cast<std::size_t>(c)] ? replacement : static_cast<char>(c);
  return mapping;
}

std::string Translate(std::string_view text, const Character_Mapping& mapping) {
  std::string out(text);
  for (char& c : out) c = mapping[static_cast<unsigned char>(c)];
  return out;
}

std::string_view Trim(std::string_view text, const Character_Set& set) {
  while (!text.empty() && Is_In(text.front(), set)) text.remove_prefix(1);
  while (!text.empty() && Is_In(text.back(), set)) text.remove_suffix(1);
  return text;
}

} // namespace Karvel::TextUtils
