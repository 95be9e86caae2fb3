#pragma once

// Building trees in code (generators, benchmarks): a child put into a
// compound, handed back for filling in.

#include <memory>
#include <string>
#include <utility>

#include "nbt/tag.h"

namespace nbt {

template <typename T, typename... Args>
T* put(TAG_Compound& compound, const std::string& name, Args&&... args) {
  auto tag = std::make_unique<T>(std::forward<Args>(args)...);
  T* raw = tag.get();
  compound.children.put(name, std::move(tag));
  return raw;
}

inline TAG_List* putList(TAG_Compound& compound, const std::string& name, uint8_t elementType = kTagCompound) {
  TAG_List* list = put<TAG_List>(compound, name);
  list->elementType = elementType;
  return list;
}

}  // namespace nbt
