#include "anvil/chunk_root.h"

namespace anvil {

using namespace nbt;

namespace {

// The root's type and name, then its tree; `name` is what it is called. A
// chunk's root is named "": one with a name (`named` refused) is not read.
RootStatus readRoot(ByteCursor& cursor, Tree& tree, std::string& name, IndexScope scope, bool namedRefused) {
  uint8_t type = kTagEnd;  // an empty chunk holds no root either
  cursor.readU8(type);
  if (type == kTagEnd) return {RootStatus::noRoot};
  uint16_t nameLength;
  const uint8_t* bytes = nullptr;
  if (!cursor.readU16(nameLength) || !(bytes = cursor.take(nameLength))) {
    // The name runs past the end of the data: no tree can follow.
    return {RootStatus::invalidRoot, "", {Tree::Read::malformed, "a name that runs past the end", cursor.consumed()}};
  }
  name.assign(reinterpret_cast<const char*>(bytes), nameLength);
  if (namedRefused && nameLength > 0) return {RootStatus::namedRoot, name};
  RootStatus status;
  status.read = tree.read(type, cursor, scope);
  if (status.read == Tree::Read::malformed) status.fault = RootStatus::invalidRoot;
  if (status.read == Tree::Read::tooManyTags) status.fault = RootStatus::tooManyTags;
  return status;
}

}  // namespace

RootStatus readChunkRoot(const uint8_t* data, size_t size, Tree& tree, Tag& level, bool& hasTree, IndexScope scope,
                         bool anyRoot) {
  level = Tag();
  hasTree = false;
  ByteCursor cursor(data, size);
  std::string name;
  RootStatus status = readRoot(cursor, tree, name, scope, true);
  if (!status) return status;
  hasTree = true;
  Tag root = tree.root();
  if (root.type() != kTagCompound) return {RootStatus::notCompound};
  level = getCompound(root, "Level");
  if (!level) {
    const Tag number = getNumber(root, "DataVersion");
    const int version = number ? number.numberAsInt() : 0;
    const bool entities = static_cast<bool>(getList(root, "Entities"));
    if (version >= kRootLayoutFrom || (entities && version >= kEntityChunksFrom) ||
        (anyRoot && (entities || getList(root, "block_entities")))) {
      level = root;
    }
  }
  if (!level) return {RootStatus::noLevel};
  return {};
}

RootStatus readFileRoot(const uint8_t* data, size_t size, Tree& tree, std::string& name, size_t& end) {
  ByteCursor cursor(data, size);
  RootStatus status = readRoot(cursor, tree, name, nullptr, false);
  end = cursor.consumed();
  if (status && tree.root().type() != kTagCompound) status.fault = RootStatus::notCompound;
  return status;
}

}  // namespace anvil
