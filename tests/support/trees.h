#pragma once

// Helpers for tests that build, read and compare tag trees.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "nbt/reader.h"
#include "nbt/tag.h"
#include "nbt/writer.h"

namespace testing_support {

inline nbt::TagPtr readAll(uint8_t type, const std::vector<uint8_t>& bytes, size_t* consumed = nullptr) {
  nbt::ByteCursor cursor(bytes.data(), bytes.size());
  nbt::TagPtr tag = nbt::readTag(type, cursor);
  if (consumed) *consumed = cursor.consumed();
  return tag;
}

inline std::vector<uint8_t> payloadOf(const nbt::TAG& tag) {
  std::vector<uint8_t> out;
  if (!tag.write(out)) out.clear();
  return out;
}

// Structural equality; floating-point values are compared bit for bit.
inline bool treesEqual(const nbt::TAG* a, const nbt::TAG* b) {
  using namespace nbt;
  if (!a || !b) return a == b;
  if (a->getType() != b->getType()) return false;
  switch (a->getType()) {
    case kTagEnd: return true;
    case kTagByte: return static_cast<const TAG_Byte*>(a)->value == static_cast<const TAG_Byte*>(b)->value;
    case kTagShort: return static_cast<const TAG_Short*>(a)->value == static_cast<const TAG_Short*>(b)->value;
    case kTagInt: return static_cast<const TAG_Int*>(a)->value == static_cast<const TAG_Int*>(b)->value;
    case kTagLong: return static_cast<const TAG_Long*>(a)->value == static_cast<const TAG_Long*>(b)->value;
    case kTagFloat:
      return std::memcmp(&static_cast<const TAG_Float*>(a)->value, &static_cast<const TAG_Float*>(b)->value, 4) == 0;
    case kTagDouble:
      return std::memcmp(&static_cast<const TAG_Double*>(a)->value, &static_cast<const TAG_Double*>(b)->value, 8) == 0;
    case kTagByteArray:
      return static_cast<const TAG_Byte_Array*>(a)->values == static_cast<const TAG_Byte_Array*>(b)->values;
    case kTagString: return static_cast<const TAG_String*>(a)->value == static_cast<const TAG_String*>(b)->value;
    case kTagIntArray:
      return static_cast<const TAG_Int_Array*>(a)->values == static_cast<const TAG_Int_Array*>(b)->values;
    case kTagLongArray:
      return static_cast<const TAG_Long_Array*>(a)->values == static_cast<const TAG_Long_Array*>(b)->values;
    case kTagList: {
      auto* la = static_cast<const TAG_List*>(a);
      auto* lb = static_cast<const TAG_List*>(b);
      if (la->elementType != lb->elementType || la->elements.size() != lb->elements.size()) return false;
      for (size_t i = 0; i < la->elements.size(); ++i) {
        if (!treesEqual(la->elements[i].get(), lb->elements[i].get())) return false;
      }
      return true;
    }
    case kTagCompound: {
      auto& ca = static_cast<const TAG_Compound*>(a)->children;
      auto& cb = static_cast<const TAG_Compound*>(b)->children;
      if (ca.size() != cb.size()) return false;
      for (auto ia = ca.begin(), ib = cb.begin(); ia != ca.end(); ++ia, ++ib) {
        if (ia->first != ib->first || !treesEqual(ia->second.get(), ib->second.get())) return false;
      }
      return true;
    }
  }
  return false;
}

}  // namespace testing_support
