#include "nbt/tree.h"

#include <algorithm>
#include <cstring>

namespace nbt {

uint8_t Tag::type() const { return tree_ ? tree_->node(index_).type : uint8_t{kTagEnd}; }

std::string_view Tag::name() const {
  if (!tree_) return {};
  const auto& n = tree_->node(index_);
  return {reinterpret_cast<const char*>(tree_->bytes_ + n.payload - n.nameLength), n.nameLength};
}

const uint8_t* Tag::payload() const {
  if (!tree_) return nullptr;
  if (replaced()) return reinterpret_cast<const uint8_t*>(tree_->replacements_.at(index_).data());
  return tree_->bytes_ + tree_->node(index_).payload;
}

size_t Tag::payloadSize() const {
  if (!tree_) return 0;
  if (replaced()) return tree_->replacements_.at(index_).size();
  const auto& n = tree_->node(index_);
  return n.payloadEnd - n.payload;
}

bool Tag::replaced() const { return tree_ && (tree_->node(index_).flags & Tree::kReplaced); }

bool Tag::indexed() const { return !tree_ || !(tree_->node(index_).flags & Tree::kUnindexed); }

uint8_t Tag::elementType() const { return type() == kTagList ? payload()[0] : uint8_t{kTagEnd}; }

uint32_t Tag::count() const {
  switch (type()) {
    case kTagList:
      return loadU32(payload() + 1);
    case kTagString:
      return loadU16(payload());
    case kTagByteArray:
    case kTagIntArray:
    case kTagLongArray:
      return loadU32(payload());
    default:
      return 0;
  }
}

Tag Tag::firstChild() const {
  if (!tree_) return {};
  // A container's children, when it has any, follow it directly; a replaced
  // one's are no longer its own.
  const uint32_t next = index_ + 1;
  const Tree::Node& self = tree_->node(index_);
  if (next >= tree_->nodes_.size() || tree_->node(next).payload >= self.payloadEnd) return {};
  if ((self.type != kTagCompound && self.type != kTagList) || (self.flags & Tree::kReplaced)) return {};
  return {tree_, next};
}

Tag Tag::nextSibling() const {
  if (!tree_) return {};
  const uint32_t next = tree_->node(index_).nextSibling;
  return next ? Tag(tree_, next) : Tag();
}

int32_t Tag::intValue() const { return type() == kTagInt ? static_cast<int32_t>(loadU32(payload())) : 0; }

int32_t Tag::numberAsInt() const {
  const uint8_t* p = payload();
  double real;
  switch (type()) {
    case kTagByte:
      return static_cast<int8_t>(p[0]);
    case kTagShort:
      return static_cast<int16_t>(loadU16(p));
    case kTagInt:
      return static_cast<int32_t>(loadU32(p));
    case kTagLong:
      return static_cast<int32_t>(static_cast<uint32_t>(loadU64(p)));
    case kTagFloat: {
      const uint32_t bits = loadU32(p);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      real = f;
      break;
    }
    case kTagDouble: {
      const uint64_t bits = loadU64(p);
      std::memcpy(&real, &bits, sizeof real);
      break;
    }
    default:
      return 0;
  }
  if (!(real == real)) return 0;  // NaN
  if (real >= 2147483647.0) return INT32_MAX;
  if (real <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(real);
}

std::string_view Tag::stringValue() const {
  if (type() != kTagString) return {};
  return {reinterpret_cast<const char*>(payload() + 2), loadU16(payload())};
}

bool Tree::replaceTag(Tag tag, uint8_t type, std::string payload) {
  Node& node = nodes_[tag.index_];
  if ((node.flags & kListElement) && type != node.type) return false;
  const size_t before = tag.payloadSize();
  if (payload.size() > before) growth_ += payload.size() - before;
  node.type = type;
  node.flags |= kReplaced;
  replacements_[tag.index_] = std::move(payload);
  return true;
}

int Tree::depthOf(Tag tag) {
  if (depths_.size() != nodes_.size()) {
    // One pass in document order: the containers that hold a tag are those
    // whose payload has not ended where the tag's begins.
    depths_.assign(nodes_.size(), 0);
    std::vector<uint32_t> openEnds;
    for (size_t i = 0; i < nodes_.size(); ++i) {
      const Node& n = nodes_[i];
      while (!openEnds.empty() && n.payload >= openEnds.back()) openEnds.pop_back();
      const bool container = n.type == kTagCompound || n.type == kTagList;
      depths_[i] = static_cast<uint16_t>(openEnds.size() + (container ? 1 : 0));
      if (container && !(n.flags & kReplaced)) openEnds.push_back(n.payloadEnd);
    }
  }
  return depths_[tag.index_];
}

bool Tree::replaceString(Tag string, std::string_view value) {
  if (value.size() > kMaxStringBytes) return false;
  std::string payload(2 + value.size(), '\0');
  storeU16(reinterpret_cast<uint8_t*>(payload.data()), static_cast<uint16_t>(value.size()));
  payload.replace(2, value.size(), value);
  return replaceTag(string, kTagString, std::move(payload));
}

namespace {

// Inlined into each lookup: a chunk's walk makes thousands of them.
inline Tag lastEntry(Tag compound, std::string_view name) {
  if (!compound || compound.type() != kTagCompound) return {};
  Tag found;
  for (Tag entry = compound.firstChild(); entry; entry = entry.nextSibling()) {
    if (entry.name() == name) found = entry;
  }
  return found;
}

Tag entryOfType(Tag compound, std::string_view name, uint8_t type) {
  const Tag found = lastEntry(compound, name);
  return found.type() == type ? found : Tag();
}

}  // namespace

Tag getTag(Tag compound, std::string_view name) { return lastEntry(compound, name); }

Tag getCompound(Tag compound, std::string_view name) { return entryOfType(compound, name, kTagCompound); }
Tag getList(Tag compound, std::string_view name) { return entryOfType(compound, name, kTagList); }
Tag getString(Tag compound, std::string_view name) { return entryOfType(compound, name, kTagString); }
Tag getInt(Tag compound, std::string_view name) { return entryOfType(compound, name, kTagInt); }

Tag getNumber(Tag compound, std::string_view name) {
  const Tag found = lastEntry(compound, name);
  return found.isNumber() ? found : Tag();
}

void sortedEntries(Tag compound, std::vector<Tag>& out) {
  out.clear();
  for (Tag entry = compound.firstChild(); entry; entry = entry.nextSibling()) out.push_back(entry);
  // std::string_view compares through char_traits<char>, which orders bytes
  // as unsigned values; a stable sort keeps repeated names in input order.
  std::stable_sort(out.begin(), out.end(), [](Tag a, Tag b) { return a.name() < b.name(); });
  size_t kept = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (i + 1 < out.size() && out[i].name() == out[i + 1].name()) continue;
    out[kept++] = out[i];
  }
  out.resize(kept);
}

}  // namespace nbt
