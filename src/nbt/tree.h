#pragma once

// A chunk's NBT tree as a flat index over its bytes: one small record per
// tag, in document order, while names, strings and arrays stay where they
// lie in the bytes. Reading a chunk builds the index and nothing else, and a
// Tree reused from chunk to chunk allocates nothing per tag.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nbt/byte_cursor.h"

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

// Nesting of lists and compounds allowed below and including the root, as the game allows.
constexpr int kMaxDepth = 512;
// A TAG_End element takes no bytes in the encoding, so lists of them cannot be
// bounded by the input's size; this caps how many one tree may hold.
constexpr uint32_t kMaxEndElements = 1u << 16;
// The game reads string and name lengths as unsigned 16-bit numbers.
constexpr size_t kMaxStringBytes = 65535;
// Tags one tree may hold (indexed, 16 bytes each): real chunks hold a few
// thousand, the densest a few hundred thousand; a chunk beyond this is hostile.
constexpr uint32_t kMaxTags = 1u << 22;

class Tree;

// One tag of a tree, or none (what every lookup answers for a missing child
// or one of another type), which answers every question with nothing: type
// TAG_End, no children, no value. Valid while its tree holds the chunk it
// came from.
class Tag {
 public:
  Tag() = default;
  explicit operator bool() const { return tree_ != nullptr; }

  uint8_t type() const;
  // A compound entry's name; empty for list elements and the root.
  std::string_view name() const;
  // A list's element type as read (also for an empty list) and its element
  // count; an array's or a string's element count.
  uint8_t elementType() const;
  uint32_t count() const;
  // Children in document order: a compound's entries, or the elements of a
  // list of strings, arrays, lists or compounds. Elements of other lists
  // (numbers, TAG_End) have no Tag of their own; their bytes are the list's.
  Tag firstChild() const;
  Tag nextSibling() const;

  int32_t intValue() const;              // of a TAG_Int
  // Of any number, as Java's getAsInt reads it (a long cut to its low 32
  // bits, a float or double rounded toward zero and held within int's range).
  int32_t numberAsInt() const;
  bool isNumber() const { return type() >= kTagByte && type() <= kTagDouble; }
  std::string_view stringValue() const;  // of a TAG_String, as replaced if it was
  // The payload: the bytes after the tag's type id and name, as read or as
  // replaced (a replaced list or compound has no children of its own).
  const uint8_t* payload() const;
  size_t payloadSize() const;
  bool replaced() const;
  // False for a list or compound whose inside the read left out (see
  // IndexScope): it looks empty, though its payload holds its children.
  bool indexed() const;

  Tree* tree() const { return tree_; }

 private:
  friend class Tree;
  Tag(Tree* tree, uint32_t index) : tree_(tree), index_(index) {}
  Tree* tree_ = nullptr;
  uint32_t index_ = 0;
};

// Which compound entries a read indexes the inside of: asked, for each entry
// of a compound at nesting depth `depth` (the root is at 1), whether the
// entry's own children need tags. An entry left out still has its own tag and
// is checked like the rest, but looks empty. None: everything is indexed.
using IndexScope = bool (*)(int depth, std::string_view name);

class Tree {
 public:
  enum class Read { ok, malformed, tooManyTags };
  // What a read came to; where it stopped, why and where (as a byte offset
  // from the beginning of the bytes the cursor covers).
  struct ReadResult {
    Read outcome = Read::ok;
    const char* reason = "";
    size_t offset = 0;
    bool operator==(Read r) const { return outcome == r; }
    bool operator!=(Read r) const { return outcome != r; }
  };

  // Reads the payload of a tag of `type` (the caller has consumed its type id
  // and name) into this tree, replacing what it held. Malformed: the type id
  // is above 12 (nothing is consumed), or the payload is not a complete tree:
  // it runs past the end, holds a negative count, a type id above 12, nesting
  // deeper than kMaxDepth or more than kMaxEndElements TAG_End elements. The
  // bytes must stay in place while the tree is used.
  ReadResult read(uint8_t type, ByteCursor& cursor, IndexScope scope = nullptr);

  Tag root() { return nodes_.empty() ? Tag() : Tag(this, 0); }
  size_t tagCount() const { return nodes_.size(); }

  // The one change a tree allows: a tag replaced by another, given as its
  // type and its payload in the encoding (which the caller makes complete:
  // it is written as it is). A compound entry or the root may change its
  // type; a list element keeps its list's. False, changing nothing, for a
  // list element of another type.
  bool replaceTag(Tag tag, uint8_t type, std::string payload);
  // The same for a string's value; false, changing nothing, for one longer
  // than the encoding can hold.
  bool replaceString(Tag string, std::string_view value);
  // How many lists and compounds hold `tag`, itself included when it is
  // one: the root compound is at 1, and the reader allows kMaxDepth.
  int depthOf(Tag tag);
  // How many bytes longer the replaced tags are, in all, than they were:
  // with the payload's size read, a bound on what writing the tree takes.
  size_t growth() const { return growth_; }

 private:
  friend class Tag;
  friend class Reader;
  struct Node {
    uint32_t payload;      // offset of the payload in the bytes
    uint32_t payloadEnd;   // offset just past it
    uint32_t nextSibling;  // 0: none (the root, at 0, is nobody's sibling)
    uint16_t nameLength;   // a compound entry's name ends where its payload begins
    uint8_t type;
    uint8_t flags;  // kReplaced, kListElement, kUnindexed
  };
  static constexpr uint8_t kReplaced = 1;     // its payload is in replacements_
  static constexpr uint8_t kListElement = 2;  // an element of a list, not a compound entry
  static constexpr uint8_t kUnindexed = 4;    // a list or compound whose children have no tags
  const Node& node(uint32_t index) const { return nodes_[index]; }

  const uint8_t* bytes_ = nullptr;
  std::vector<Node> nodes_;
  std::vector<uint16_t> depths_;  // of every tag, worked out when first asked for
  std::unordered_map<uint32_t, std::string> replacements_;
  size_t growth_ = 0;
};

// Typed lookups: the compound's entry of that name (the last one, where a
// name repeats) if it is of the type asked for; none otherwise, also for a
// none or non-compound container.
Tag getCompound(Tag compound, std::string_view name);
Tag getList(Tag compound, std::string_view name);
Tag getString(Tag compound, std::string_view name);
Tag getInt(Tag compound, std::string_view name);
// The entry of that name, of whatever type.
Tag getTag(Tag compound, std::string_view name);
// The entry of that name if it is a number of any type (as the game reads a
// chunk's or a file's DataVersion).
Tag getNumber(Tag compound, std::string_view name);

// A compound's entries as they are written and printed: sorted by name, byte
// by byte as unsigned values (a prefix before the longer name), and a name
// that repeats only once, with its last value.
void sortedEntries(Tag compound, std::vector<Tag>& out);

}  // namespace nbt
