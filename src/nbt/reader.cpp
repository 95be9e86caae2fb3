#include "nbt/reader.h"

#include <cstring>
#include <iterator>

namespace nbt {

namespace {

// Bytes that one element of each type takes at the least, indexed by type id;
// a count is only believed once the rest of the buffer could hold it.
constexpr size_t kMinPayloadSize[] = {0, 1, 2, 4, 8, 4, 8, 4, 2, 5, 1, 4, 4};

// Kept between reads so a region's chunks do not each grow their own.
thread_local std::vector<TagMap::Entry> pendingStack;

class Reader {
 public:
  explicit Reader(ByteCursor& in) : in_(in) {}

  TagPtr read(uint8_t type) {
    switch (type) {
      case kTagEnd:
        return std::make_unique<TAG_End>();
      case kTagByte: {
        uint8_t v;
        if (!in_.readU8(v)) return nullptr;
        return std::make_unique<TAG_Byte>(static_cast<int8_t>(v));
      }
      case kTagShort: {
        uint16_t v;
        if (!in_.readU16(v)) return nullptr;
        return std::make_unique<TAG_Short>(static_cast<int16_t>(v));
      }
      case kTagInt: {
        uint32_t v;
        if (!in_.readU32(v)) return nullptr;
        return std::make_unique<TAG_Int>(static_cast<int32_t>(v));
      }
      case kTagLong: {
        uint64_t v;
        if (!in_.readU64(v)) return nullptr;
        return std::make_unique<TAG_Long>(static_cast<int64_t>(v));
      }
      case kTagFloat: {
        // Taken bit for bit: every NaN payload and -0.0 survive.
        uint32_t bits;
        if (!in_.readU32(bits)) return nullptr;
        auto tag = std::make_unique<TAG_Float>();
        std::memcpy(&tag->value, &bits, sizeof bits);
        return tag;
      }
      case kTagDouble: {
        uint64_t bits;
        if (!in_.readU64(bits)) return nullptr;
        auto tag = std::make_unique<TAG_Double>();
        std::memcpy(&tag->value, &bits, sizeof bits);
        return tag;
      }
      case kTagByteArray:
        return readArray<TAG_Byte_Array>();
      case kTagString: {
        auto tag = std::make_unique<TAG_String>();
        if (!readString(in_, tag->value)) return nullptr;
        return tag;
      }
      case kTagList:
        return readList();
      case kTagCompound:
        return readCompound();
      case kTagIntArray:
        return readArray<TAG_Int_Array>();
      case kTagLongArray:
        return readArray<TAG_Long_Array>();
      default:
        return nullptr;
    }
  }

 private:
  // Counts that the rest of the buffer cannot hold fail before anything is reserved.
  bool readCount(size_t elementSize, size_t& count) {
    uint32_t raw;
    if (!in_.readU32(raw)) return false;
    int32_t signedCount = static_cast<int32_t>(raw);
    if (signedCount < 0) return false;
    count = static_cast<size_t>(signedCount);
    return elementSize == 0 || count <= in_.remaining() / elementSize;
  }

  template <typename ArrayClass>
  TagPtr readArray() {
    using Element = typename decltype(ArrayClass::values)::value_type;
    size_t count;
    if (!readCount(sizeof(Element), count)) return nullptr;
    const uint8_t* p = in_.take(count * sizeof(Element));
    auto tag = std::make_unique<ArrayClass>();
    tag->values.resize(count);
    Element* out = tag->values.data();
    for (size_t i = 0; i < count; ++i, p += sizeof(Element)) {
      if constexpr (sizeof(Element) == 1) {
        out[i] = static_cast<Element>(*p);
      } else if constexpr (sizeof(Element) == 4) {
        out[i] = static_cast<Element>(ByteCursor::loadU32(p));
      } else {
        out[i] = static_cast<Element>(ByteCursor::loadU64(p));
      }
    }
    return tag;
  }

  // Lists and compounds count against the nesting limit while they are read.
  struct DepthGuard {
    explicit DepthGuard(int& d) : depth(++d) {}
    ~DepthGuard() { --depth; }
    int& depth;
  };

  TagPtr readList() {
    DepthGuard guard(depth_);
    if (depth_ > kMaxDepth) return nullptr;
    uint8_t elementType;
    if (!in_.readU8(elementType)) return nullptr;
    size_t count;
    if (!readCount(elementType <= kMaxTagType ? kMinPayloadSize[elementType] : 1, count)) return nullptr;
    auto list = std::make_unique<TAG_List>();
    list->elementType = elementType;
    if (count == 0) return list;
    if (elementType > kMaxTagType) return nullptr;
    if (elementType == kTagEnd) {
      if (count > endBudget_) return nullptr;
      endBudget_ -= static_cast<uint32_t>(count);
    }
    list->elements.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      TagPtr element = read(elementType);
      if (!element) return nullptr;
      list->elements.push_back(std::move(element));
    }
    return list;
  }

  // Entries gather on one stack shared by all compounds of the tree, so each
  // compound's own storage is allocated once, at its exact size.
  TagPtr readCompound() {
    DepthGuard guard(depth_);
    if (depth_ > kMaxDepth) return nullptr;
    const size_t first = pending_.size();
    struct Unwind {
      std::vector<TagMap::Entry>& stack;
      size_t first;
      ~Unwind() { stack.resize(first); }
    } unwind{pending_, first};
    for (;;) {
      uint8_t type;
      if (!in_.readU8(type)) return nullptr;
      if (type == kTagEnd) break;
      if (type > kMaxTagType) return nullptr;
      pending_.emplace_back();
      if (!readString(in_, pending_.back().first)) return nullptr;
      TagPtr child = read(type);
      if (!child) return nullptr;
      // `read` may have grown the stack: index it afresh.
      pending_[pending_.size() - 1].second = std::move(child);
    }
    std::vector<TagMap::Entry> entries;
    entries.reserve(pending_.size() - first);
    std::move(pending_.begin() + static_cast<std::ptrdiff_t>(first), pending_.end(), std::back_inserter(entries));
    auto compound = std::make_unique<TAG_Compound>();
    compound->children = TagMap::fromEntries(std::move(entries));
    return compound;
  }

  ByteCursor& in_;
  std::vector<TagMap::Entry>& pending_ = pendingStack;
  int depth_ = 0;
  uint32_t endBudget_ = kMaxEndElements;
};

}  // namespace

TagPtr readTag(uint8_t type, ByteCursor& cursor) {
  Reader reader(cursor);
  return reader.read(type);
}

bool readString(ByteCursor& cursor, std::string& out) {
  uint16_t length;
  if (!cursor.readU16(length)) return false;
  const uint8_t* bytes = cursor.take(length);
  if (!bytes) return false;
  out.assign(reinterpret_cast<const char*>(bytes), length);
  return true;
}

}  // namespace nbt
