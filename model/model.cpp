#include "model/model.hpp"

namespace Karvel::Phylo {

const TextUtils::Character_Set& Whitespace() {
  static const TextUtils::Character_Set set = TextUtils::Range(0, 32) | TextUtils::Range(127, 127);
  return set;
}

} // namespace Karvel::Phylo
