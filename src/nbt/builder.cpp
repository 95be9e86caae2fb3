#include "nbt/builder.h"

#include "nbt/writer.h"

namespace nbt {

void Builder::head(uint8_t type, std::string_view name) {
  if (!open_.empty() && open_.back().isList) {
    ++open_.back().count;
    return;
  }
  out_.push_back(type);
  writeString(name, out_);
}

void Builder::u32(uint32_t v) {
  out_.resize(out_.size() + 4);
  storeU32(out_.data() + out_.size() - 4, v);
}

Builder& Builder::byteTag(std::string_view name, int8_t v) {
  head(kTagByte, name);
  out_.push_back(static_cast<uint8_t>(v));
  return *this;
}

Builder& Builder::intTag(std::string_view name, int32_t v) {
  head(kTagInt, name);
  u32(static_cast<uint32_t>(v));
  return *this;
}

Builder& Builder::longTag(std::string_view name, int64_t v) {
  head(kTagLong, name);
  out_.resize(out_.size() + 8);
  storeU64(out_.data() + out_.size() - 8, static_cast<uint64_t>(v));
  return *this;
}

Builder& Builder::stringTag(std::string_view name, std::string_view v) {
  head(kTagString, name);
  writeString(v, out_);
  return *this;
}

Builder& Builder::byteArray(std::string_view name, const std::vector<int8_t>& v) {
  head(kTagByteArray, name);
  u32(static_cast<uint32_t>(v.size()));
  for (int8_t b : v) out_.push_back(static_cast<uint8_t>(b));
  return *this;
}

Builder& Builder::intArray(std::string_view name, const std::vector<int32_t>& v) {
  head(kTagIntArray, name);
  u32(static_cast<uint32_t>(v.size()));
  for (int32_t i : v) u32(static_cast<uint32_t>(i));
  return *this;
}

Builder& Builder::longArray(std::string_view name, const std::vector<int64_t>& v) {
  head(kTagLongArray, name);
  u32(static_cast<uint32_t>(v.size()));
  out_.resize(out_.size() + 8 * v.size());
  uint8_t* p = out_.data() + out_.size() - 8 * v.size();
  for (int64_t l : v) {
    storeU64(p, static_cast<uint64_t>(l));
    p += 8;
  }
  return *this;
}

Builder& Builder::beginCompound(std::string_view name) {
  head(kTagCompound, name);
  open_.push_back({false, 0, 0});
  return *this;
}

Builder& Builder::beginList(std::string_view name, uint8_t elementType) {
  head(kTagList, name);
  out_.push_back(elementType);
  open_.push_back({true, out_.size(), 0});
  u32(0);
  return *this;
}

Builder& Builder::end() {
  const Open closing = open_.back();
  open_.pop_back();
  if (closing.isList) {
    storeU32(out_.data() + closing.countAt, closing.count);
  } else {
    out_.push_back(kTagEnd);
  }
  return *this;
}

}  // namespace nbt
