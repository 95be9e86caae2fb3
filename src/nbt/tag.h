#pragma once

// The in-memory form of an NBT tree: an abstract TAG and one class per type id.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "nbt/byte_buffer.h"

namespace nbt {

enum TagType : uint8_t {
  kTagEnd = 0,
  kTagByte = 1,
  kTagShort = 2,
  kTagInt = 3,
  kTagLong = 4,
  kTagFloat = 5,
  kTagDouble = 6,
  kTagByteArray = 7,
  kTagString = 8,
  kTagList = 9,
  kTagCompound = 10,
  kTagIntArray = 11,
  kTagLongArray = 12,
};
constexpr uint8_t kMaxTagType = kTagLongArray;

struct TAG {
  virtual uint8_t getType() const = 0;
  // Dumps the tag as indented text; `level` is its nesting depth (two spaces each).
  virtual void print(int32_t level, bool showTypes) const = 0;
  // Appends the payload (no type id, no name). Returns false, leaving `out`
  // holding garbage, when something in the subtree has no encoding: a string
  // longer than 65535 bytes, more than 2^31-1 elements, or an empty slot.
  virtual bool write(ByteBuffer& out) const = 0;
  virtual ~TAG() = default;
};

using TagPtr = std::unique_ptr<TAG>;

// Scalars and arrays differ only in their value type and type id.
template <uint8_t Id, typename T>
struct ValueTag : TAG {
  T value{};
  ValueTag() = default;
  explicit ValueTag(T v) : value(std::move(v)) {}
  uint8_t getType() const final { return Id; }
};

template <uint8_t Id, typename T>
struct ArrayTag : TAG {
  std::vector<T> values;
  ArrayTag() = default;
  explicit ArrayTag(std::vector<T> v) : values(std::move(v)) {}
  uint8_t getType() const final { return Id; }
};

#define PAGEMEND_TAG_OPERATIONS                               \
  void print(int32_t level, bool showTypes) const override; \
  bool write(ByteBuffer& out) const override

struct TAG_End final : TAG {
  uint8_t getType() const override { return kTagEnd; }
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Byte final : ValueTag<kTagByte, int8_t> {
  using ValueTag::ValueTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Short final : ValueTag<kTagShort, int16_t> {
  using ValueTag::ValueTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Int final : ValueTag<kTagInt, int32_t> {
  using ValueTag::ValueTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Long final : ValueTag<kTagLong, int64_t> {
  using ValueTag::ValueTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Float final : ValueTag<kTagFloat, float> {
  using ValueTag::ValueTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Double final : ValueTag<kTagDouble, double> {
  using ValueTag::ValueTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Byte_Array final : ArrayTag<kTagByteArray, int8_t> {
  using ArrayTag::ArrayTag;
  PAGEMEND_TAG_OPERATIONS;
};
// Bytes exactly as stored: no character set, and a 0 byte is an ordinary byte.
struct TAG_String final : ValueTag<kTagString, std::string> {
  using ValueTag::ValueTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Int_Array final : ArrayTag<kTagIntArray, int32_t> {
  using ArrayTag::ArrayTag;
  PAGEMEND_TAG_OPERATIONS;
};
struct TAG_Long_Array final : ArrayTag<kTagLongArray, int64_t> {
  using ArrayTag::ArrayTag;
  PAGEMEND_TAG_OPERATIONS;
};

struct TAG_List final : TAG {
  uint8_t elementType = kTagEnd;  // as read, even for an empty list
  std::vector<TagPtr> elements;
  uint8_t getType() const override { return kTagList; }
  PAGEMEND_TAG_OPERATIONS;
};

// A compound's children: unique names ordered byte by byte as unsigned values,
// a prefix before the longer name. Kept as a sorted vector: compounds are
// small, so searching and building one is cheaper than with a node-based map.
class TagMap {
 public:
  using Entry = std::pair<std::string, TagPtr>;
  using const_iterator = std::vector<Entry>::const_iterator;

  // Takes entries in any order; where a name repeats, the last entry wins.
  static TagMap fromEntries(std::vector<Entry> entries);

  TAG* find(std::string_view name) const;
  // Inserts in order, or replaces (and destroys) the tag already held under `name`.
  void put(std::string name, TagPtr tag);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const_iterator begin() const { return entries_.begin(); }
  const_iterator end() const { return entries_.end(); }

 private:
  std::vector<Entry> entries_;
};

struct TAG_Compound final : TAG {
  TagMap children;
  uint8_t getType() const override { return kTagCompound; }
  PAGEMEND_TAG_OPERATIONS;
};

#undef PAGEMEND_TAG_OPERATIONS

// Typed lookups: the child if it is there, holds a tag, and is of the class
// asked for; null otherwise, also for a null container. They change nothing.
TAG_Compound* getCompound(TAG_Compound* compound, std::string_view name);
TAG_List* getList(TAG_Compound* compound, std::string_view name);
TAG_String* getString(TAG_Compound* compound, std::string_view name);
TAG_Int* getInt(TAG_Compound* compound, std::string_view name);
TAG_Compound* getCompoundAt(TAG_List* list, int32_t index);

}  // namespace nbt
