#include "nbt/writer.h"

#include <vector>

namespace nbt {

namespace {

void append(ByteBuffer& out, const uint8_t* data, size_t size) { out.insert(out.end(), data, data + size); }

// Entries of the compounds being written, one list per level, kept between
// compounds so that writing a chunk allocates once per level.
class Writer {
 public:
  explicit Writer(ByteBuffer& out) : out_(out) {}

  void tag(Tag tag, size_t depth) {
    if (tag.replaced()) {
      append(out_, tag.payload(), tag.payloadSize());  // complete as it was given
      return;
    }
    if (!tag.indexed()) {
      // Read now, as a tree of its own, and written as every tag is: its
      // bytes were checked whole when the tree that holds it was read.
      Tree inside;
      ByteCursor cursor(tag.payload(), tag.payloadSize());
      inside.read(tag.type(), cursor);
      Writer(out_).tag(inside.root(), depth);
      return;
    }
    switch (tag.type()) {
      case kTagCompound:
        compound(tag, depth);
        return;
      case kTagList:
        list(tag, depth);
        return;
      default:
        append(out_, tag.payload(), tag.payloadSize());
    }
  }

 private:
  void compound(Tag compound, size_t depth) {
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    sortedEntries(compound, levels_[depth]);
    // By index: writing an entry may grow levels_ and move its lists.
    for (size_t i = 0; i < levels_[depth].size(); ++i) {
      const Tag entry = levels_[depth][i];
      out_.push_back(entry.type());
      writeString(entry.name(), out_);
      tag(entry, depth + 1);
    }
    out_.push_back(kTagEnd);
  }

  void list(Tag list, size_t depth) {
    // Only elements with a tag of their own can hold a compound or a replaced string.
    Tag element = list.firstChild();
    if (!element) {
      append(out_, list.payload(), list.payloadSize());
      return;
    }
    append(out_, list.payload(), 5);  // element type and count, as read
    for (; element; element = element.nextSibling()) tag(element, depth + 1);
  }

  ByteBuffer& out_;
  std::vector<std::vector<Tag>> levels_;
};

}  // namespace

void writeString(std::string_view value, ByteBuffer& out) {
  uint8_t length[2];
  storeU16(length, static_cast<uint16_t>(value.size()));
  append(out, length, 2);
  append(out, reinterpret_cast<const uint8_t*>(value.data()), value.size());
}

void writeTag(Tag tag, ByteBuffer& out) { Writer(out).tag(tag, 0); }

void writeNamedTag(std::string_view name, Tag tag, ByteBuffer& out) {
  out.push_back(tag.type());
  writeString(name, out);
  writeTag(tag, out);
}

}  // namespace nbt
