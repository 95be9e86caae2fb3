#include "region/root_loading.h"

#include "console/console.h"
#include "nbt/reader.h"
#include "region/chunk_walk.h"

namespace region {

using namespace nbt;

void loadChunkRoot(int x, int z, const ByteBuffer& data, RegionTables& tables, bool walk) {
  ByteCursor cursor(data.data(), data.size());
  uint8_t type = kTagEnd;  // an empty chunk holds no root either
  cursor.readU8(type);
  tables.rootTypes[x][z] = type;
  if (type == kTagEnd) {
    printMessage("Error: Chunk %i,%i contained no root tag!\n", x, z);
    return;
  }
  std::string& name = tables.rootNames[x][z].value;
  if (!readString(cursor, name)) {
    // The name runs past the end of the data: no tree can follow.
    name.clear();
    printMessage("Error: Chunk %i,%i contained invalid root tag!\n", x, z);
    return;
  }
  if (!name.empty()) {
    printMessage("Error: Chunk %i,%i root tag had non-blank name '%s'\n", x, z, name.c_str());
    return;
  }
  TagPtr& root = tables.roots[x][z];
  root = readTag(type, cursor);
  if (!root) {
    printMessage("Error: Chunk %i,%i contained invalid root tag!\n", x, z);
    return;
  }
  if (root->getType() != kTagCompound) {
    printMessage("Error: Chunk %i,%i root object malformed!\n", x, z);
    return;
  }
  TAG_Compound* level = getCompound(static_cast<TAG_Compound*>(root.get()), "Level");
  if (!level) {
    printMessage("Error: Chunk %i,%i Level object missing or malformed!\n", x, z);
    return;
  }
  if (walk && walkLevel(level)) tables.repaired = true;
}

}  // namespace region
