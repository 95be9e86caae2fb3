#include <limits>

#include "nbt/tree.h"

namespace nbt {

namespace {

// Bytes that one element of each type takes at the least, indexed by type id;
// a count is only believed once the rest of the buffer could hold it.
constexpr size_t kMinPayloadSize[] = {0, 1, 2, 4, 8, 4, 8, 4, 2, 5, 1, 4, 4};

bool isNumber(uint8_t type) { return type >= kTagByte && type <= kTagDouble; }

}  // namespace

// Builds the index in one forward pass over the bytes, checking every length
// against what remains before it is believed.
class Reader {
 public:
  Reader(Tree& tree, ByteCursor& in, IndexScope scope) : nodes_(tree.nodes_), in_(in), scope_(scope) {}

  Tree::ReadResult read(uint8_t type) {
    if (tag(type, 0)) return {};
    return {tooManyTags_ ? Tree::Read::tooManyTags : Tree::Read::malformed, reason_, offset_};
  }

 private:
  uint32_t offset() const { return static_cast<uint32_t>(in_.consumed()); }

  bool tag(uint8_t type, uint16_t nameLength) {
    // Counted whether indexed or not, so that a tree is refused the same way
    // however much of it is indexed.
    if (++tags_ > kMaxTags) {
      tooManyTags_ = true;
      return fail("more tags than one tree may hold");
    }
    if (!indexing_) return payload(type);
    const size_t self = nodes_.size();
    // Field by field, in place: a record built whole on the stack and copied
    // in stalls on the copy, and this runs once per tag.
    Tree::Node& node = nodes_.emplace_back();
    node.payload = offset();
    node.nameLength = nameLength;
    node.type = type;
    if (!payload(type)) return false;
    nodes_[self].payloadEnd = offset();
    return true;
  }

  bool payload(uint8_t type) {
    switch (type) {
      case kTagEnd:
        return true;
      case kTagString: {
        uint16_t length;
        return (in_.readU16(length) && in_.take(length)) || fail("a string that runs past the end");
      }
      case kTagByteArray:
        return array(1);
      case kTagIntArray:
        return array(4);
      case kTagLongArray:
        return array(8);
      case kTagList:
        return list();
      case kTagCompound:
        return compound();
      default:
        return (isNumber(type) && in_.take(kMinPayloadSize[type])) || fail("a number that runs past the end");
    }
  }

  // Negative counts and counts the rest of the buffer cannot hold fail here.
  bool readCount(size_t elementSize, size_t& count) {
    uint32_t raw;
    if (!in_.readU32(raw)) return fail("a count that runs past the end");
    if (raw > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return fail("a negative count");
    count = raw;
    return elementSize == 0 || count <= in_.remaining() / elementSize ||
           fail("a count larger than the bytes left could hold");
  }

  bool array(size_t elementSize) {
    size_t count;
    return readCount(elementSize, count) && in_.take(count * elementSize);
  }

  // Lists and compounds count against the nesting limit while they are read.
  struct Nesting {
    explicit Nesting(int& d) : depth(++d) {}
    ~Nesting() { --depth; }
    bool tooDeep() const { return depth > kMaxDepth; }
    int& depth;
  };

  bool list() {
    Nesting nesting(depth_);
    uint8_t elementType;
    size_t count;
    if (nesting.tooDeep()) return fail("lists and compounds nested deeper than 512 levels");
    if (!in_.readU8(elementType)) return fail("a list that runs past the end");
    if (!readCount(elementType <= kMaxTagType ? kMinPayloadSize[elementType] : 1, count)) return false;
    if (count == 0) return true;  // keeps its element type as read, whatever it is
    if (elementType > kMaxTagType) return fail("a list of an unknown tag type");
    if (elementType == kTagEnd) {
      if (count > endBudget_) return fail("more elements of the empty type than one tree may hold");
      endBudget_ -= static_cast<uint32_t>(count);
      return true;
    }
    // Numbers have a fixed size and nothing inside: no tag of their own.
    if (isNumber(elementType)) return in_.take(count * kMinPayloadSize[elementType]);
    uint32_t previous = 0;
    for (size_t i = 0; i < count; ++i) {
      const uint32_t self = static_cast<uint32_t>(nodes_.size());
      if (!tag(elementType, 0)) return false;
      if (indexing_) {
        nodes_[self].flags = Tree::kListElement;
        if (previous) nodes_[previous].nextSibling = self;
      }
      previous = self;
    }
    return true;
  }

  bool compound() {
    Nesting nesting(depth_);
    if (nesting.tooDeep()) return fail("lists and compounds nested deeper than 512 levels");
    uint32_t previous = 0;
    for (;;) {
      uint8_t type;
      uint16_t nameLength;
      if (!in_.readU8(type)) return fail("a compound that runs past the end");
      if (type == kTagEnd) return true;
      if (type > kMaxTagType) return fail("an entry of an unknown tag type");
      const uint8_t* name;
      if (!in_.readU16(nameLength) || !(name = in_.take(nameLength))) return fail("a name that runs past the end");
      const uint32_t self = static_cast<uint32_t>(nodes_.size());
      if (!entry(type, std::string_view(reinterpret_cast<const char*>(name), nameLength))) return false;
      if (previous && indexing_) nodes_[previous].nextSibling = self;
      previous = self;
    }
  }

  // A compound entry: its own tag, and its inside as far as the scope asks.
  bool entry(uint8_t type, std::string_view name) {
    const uint16_t nameLength = static_cast<uint16_t>(name.size());
    if (!indexing_ || !scope_ || (type != kTagCompound && type != kTagList) || scope_(depth_, name)) {
      return tag(type, nameLength);
    }
    const size_t self = nodes_.size();
    if (!tag(kTagEnd, nameLength)) return false;  // its tag, to be completed below
    indexing_ = false;
    const bool read = payload(type);
    indexing_ = true;
    nodes_[self].type = type;
    nodes_[self].flags = Tree::kUnindexed;
    nodes_[self].payloadEnd = offset();
    return read;
  }

  std::vector<Tree::Node>& nodes_;
  ByteCursor& in_;
  IndexScope scope_;
  bool indexing_ = true;  // off inside entries the scope leaves out
  int depth_ = 0;
  uint32_t endBudget_ = kMaxEndElements;
  uint32_t tags_ = 0;
  bool tooManyTags_ = false;
  // The first fault met, and where the read that met it began.
  const char* reason_ = "";
  size_t offset_ = 0;

  bool fail(const char* reason) {
    if (!*reason_) {
      reason_ = reason;
      offset_ = in_.consumed();
    }
    return false;
  }
};

Tree::ReadResult Tree::read(uint8_t type, ByteCursor& cursor, IndexScope scope) {
  nodes_.clear();
  depths_.clear();
  replacements_.clear();
  growth_ = 0;
  bytes_ = cursor.begin();
  if (type > kMaxTagType) return {Read::malformed, "a root of an unknown tag type", cursor.consumed()};
  // Offsets are 32-bit; no chunk the run reads comes near that.
  if (cursor.consumed() + cursor.remaining() > std::numeric_limits<uint32_t>::max()) {
    return {Read::malformed, "more than 4 GiB", cursor.consumed()};
  }
  const ReadResult result = Reader(*this, cursor, scope).read(type);
  if (result != Read::ok) nodes_.clear();
  return result;
}

}  // namespace nbt
