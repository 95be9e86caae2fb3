#include "nbt/writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace nbt {

namespace {

constexpr size_t kMaxCount = static_cast<size_t>(std::numeric_limits<int32_t>::max());

// Grows geometrically, and at least by the whole payload about to be
// appended, so a large array or string costs at most one reallocation and a
// run of small ones no more than amortised growth.
void ensureRoom(ByteBuffer& out, size_t extra) {
  if (out.capacity() - out.size() < extra) {
    out.reserve(std::max(out.size() + extra, out.capacity() * 2));
  }
}

uint8_t* grow(ByteBuffer& out, size_t n) {
  size_t at = out.size();
  out.resize(at + n);
  return out.data() + at;
}

void storeU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void storeU32(uint8_t* p, uint32_t v) {
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
void storeU64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

void appendU8(ByteBuffer& out, uint8_t v) { out.push_back(v); }
void appendU16(ByteBuffer& out, uint16_t v) { storeU16(grow(out, 2), v); }
void appendU32(ByteBuffer& out, uint32_t v) { storeU32(grow(out, 4), v); }
void appendU64(ByteBuffer& out, uint64_t v) { storeU64(grow(out, 8), v); }

template <typename Element>
bool writeArray(const std::vector<Element>& values, ByteBuffer& out) {
  if (values.size() > kMaxCount) return false;
  ensureRoom(out, 4 + values.size() * sizeof(Element));
  appendU32(out, static_cast<uint32_t>(values.size()));
  uint8_t* p = grow(out, values.size() * sizeof(Element));
  for (Element v : values) {
    if constexpr (sizeof(Element) == 1) {
      *p = static_cast<uint8_t>(v);
    } else if constexpr (sizeof(Element) == 4) {
      storeU32(p, static_cast<uint32_t>(v));
    } else {
      storeU64(p, static_cast<uint64_t>(v));
    }
    p += sizeof(Element);
  }
  return true;
}

}  // namespace

bool writeString(std::string_view value, ByteBuffer& out) {
  if (value.size() > kMaxStringBytes) return false;
  ensureRoom(out, 2 + value.size());
  appendU16(out, static_cast<uint16_t>(value.size()));
  out.insert(out.end(), value.begin(), value.end());
  return true;
}

bool writeNamedTag(uint8_t type, std::string_view name, const TAG& tag, ByteBuffer& out) {
  appendU8(out, type);
  return writeString(name, out) && tag.write(out);
}

bool TAG_End::write(ByteBuffer&) const { return true; }
bool TAG_Byte::write(ByteBuffer& out) const {
  appendU8(out, static_cast<uint8_t>(value));
  return true;
}
bool TAG_Short::write(ByteBuffer& out) const {
  appendU16(out, static_cast<uint16_t>(value));
  return true;
}
bool TAG_Int::write(ByteBuffer& out) const {
  appendU32(out, static_cast<uint32_t>(value));
  return true;
}
bool TAG_Long::write(ByteBuffer& out) const {
  appendU64(out, static_cast<uint64_t>(value));
  return true;
}
bool TAG_Float::write(ByteBuffer& out) const {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  appendU32(out, bits);
  return true;
}
bool TAG_Double::write(ByteBuffer& out) const {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  appendU64(out, bits);
  return true;
}
bool TAG_Byte_Array::write(ByteBuffer& out) const { return writeArray(values, out); }
bool TAG_Int_Array::write(ByteBuffer& out) const { return writeArray(values, out); }
bool TAG_Long_Array::write(ByteBuffer& out) const { return writeArray(values, out); }
bool TAG_String::write(ByteBuffer& out) const { return writeString(value, out); }

bool TAG_List::write(ByteBuffer& out) const {
  if (elements.size() > kMaxCount) return false;
  appendU8(out, elementType);
  appendU32(out, static_cast<uint32_t>(elements.size()));
  for (const TagPtr& element : elements) {
    if (!element || !element->write(out)) return false;
  }
  return true;
}

bool TAG_Compound::write(ByteBuffer& out) const {
  for (const auto& [name, child] : children) {
    if (!child || !writeNamedTag(child->getType(), name, *child, out)) return false;
  }
  appendU8(out, kTagEnd);
  return true;
}

}  // namespace nbt
