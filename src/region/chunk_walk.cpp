#include "region/chunk_walk.h"

#include <string>

#include "books/item_inspection.h"
#include "console/console.h"

namespace region {

using namespace nbt;

namespace {

// " at x,y,z" when all three coordinates are ints, otherwise nothing.
std::string coordinates(TAG_Compound* compound, const char* xName, const char* yName, const char* zName) {
  TAG_Int* x = getInt(compound, xName);
  TAG_Int* y = getInt(compound, yName);
  TAG_Int* z = getInt(compound, zName);
  if (!x || !y || !z) return "";
  return " at " + std::to_string(x->value) + "," + std::to_string(y->value) + "," + std::to_string(z->value);
}

bool walkBlockEntities(TAG_List* blockEntities) {
  bool repaired = false;
  for (int32_t i = 0; i < static_cast<int32_t>(blockEntities->elements.size()); ++i) {
    TAG_Compound* blockEntity = getCompoundAt(blockEntities, i);
    if (!blockEntity) continue;
    std::string location;
    if (TAG_String* id = getString(blockEntity, "id")) location = " in " + id->value;
    location += coordinates(blockEntity, "x", "y", "z");
    if (TAG_List* items = getList(blockEntity, "Items")) {
      repaired |= books::checkContainedItems(items, location);
    }
  }
  return repaired;
}

bool walkEntities(TAG_List* entities) {
  bool repaired = false;
  for (int32_t i = 0; i < static_cast<int32_t>(entities->elements.size()); ++i) {
    TAG_Compound* entity = getCompoundAt(entities, i);
    if (!entity) continue;
    TAG_String* id = getString(entity, "id");
    if (!id) {
      printMessage("Warning: entity ID missing or malformed!\n");
      continue;
    }
    if (id->value != "minecraft:item_frame") continue;
    TAG_Compound* item = getCompound(entity, "Item");
    if (!item) continue;
    TAG_String* itemId = getString(item, "id");
    if (!itemId) {
      printMessage("Warning: framed item ID missing or malformed!\n");
      continue;
    }
    // A frame is named by what it shows; its position is the frame's own.
    std::string location = " in " + itemId->value + coordinates(entity, "TileX", "TileY", "TileZ");
    repaired |= books::checkContainedItem(item, itemId->value, location);
  }
  return repaired;
}

}  // namespace

bool walkLevel(TAG_Compound* level) {
  bool repaired = false;
  if (TAG_List* blockEntities = getList(level, "TileEntities")) repaired |= walkBlockEntities(blockEntities);
  if (TAG_List* entities = getList(level, "Entities")) repaired |= walkEntities(entities);
  return repaired;
}

}  // namespace region
