#include "region/root_loading.h"

namespace region {

using books::Finding;
using namespace nbt;

bool loadChunkRoot(int x, int z, const uint8_t* data, size_t size, Tree& tree, Tag& level, books::Report& report,
                   IndexScope scope, bool newerLayouts) {
  level = Tag();
  ByteCursor cursor(data, size);
  uint8_t type = kTagEnd;  // an empty chunk holds no root either
  cursor.readU8(type);
  if (type == kTagEnd) {
    report.addf(Finding::error, "Error: Chunk %i,%i contained no root tag!\n", x, z);
    return false;
  }
  uint16_t nameLength;
  const uint8_t* name = nullptr;
  if (!cursor.readU16(nameLength) || !(name = cursor.take(nameLength))) {
    // The name runs past the end of the data: no tree can follow.
    report.addf(Finding::error, "Error: Chunk %i,%i contained invalid root tag!\n", x, z);
    return false;
  }
  if (nameLength > 0) {
    const std::string text(reinterpret_cast<const char*>(name), nameLength);
    report.addf(Finding::error, "Error: Chunk %i,%i root tag had non-blank name '%s'\n", x, z, text.c_str());
    return false;
  }
  switch (tree.read(type, cursor, scope)) {
    case Tree::Read::ok:
      break;
    case Tree::Read::malformed:
      report.addf(Finding::error, "Error: Chunk %i,%i contained invalid root tag!\n", x, z);
      return false;
    case Tree::Read::tooManyTags:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i holds more than %u tags, far beyond any chunk the game writes; it is left as "
                  "it is\n",
                  x, z, kMaxTags);
      return false;
  }
  Tag root = tree.root();
  if (root.type() != kTagCompound) {
    report.addf(Finding::error, "Error: Chunk %i,%i root object malformed!\n", x, z);
    return true;
  }
  level = getCompound(root, "Level");
  if (!level && newerLayouts && (getList(root, "block_entities") || getList(root, "Entities"))) level = root;
  if (!level) report.addf(Finding::error, "Error: Chunk %i,%i Level object missing or malformed!\n", x, z);
  return true;
}

}  // namespace region
