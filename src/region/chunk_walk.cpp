#include "region/chunk_walk.h"

#include <string>

#include "books/item_inspection.h"

namespace region {

using books::Finding;
using namespace nbt;

namespace {

// " at x,y,z" when all three coordinates are ints, otherwise nothing.
std::string coordinates(Tag compound, const char* xName, const char* yName, const char* zName) {
  Tag x = getInt(compound, xName);
  Tag y = getInt(compound, yName);
  Tag z = getInt(compound, zName);
  if (!x || !y || !z) return "";
  return " at " + std::to_string(x.intValue()) + "," + std::to_string(y.intValue()) + "," +
         std::to_string(z.intValue());
}

// The compounds of a list; a list of anything else holds none.
Tag firstCompound(Tag list) { return list.elementType() == kTagCompound ? list.firstChild() : Tag(); }

bool walkBlockEntities(Tag blockEntities, books::Report& report) {
  bool repaired = false;
  for (Tag blockEntity = firstCompound(blockEntities); blockEntity; blockEntity = blockEntity.nextSibling()) {
    Tag items = getList(blockEntity, "Items");
    if (!items) continue;  // before the location, which most block entities would never need
    std::string location;
    if (Tag id = getString(blockEntity, "id")) location = " in " + std::string(id.stringValue());
    location += coordinates(blockEntity, "x", "y", "z");
    repaired |= books::checkContainedItems(items, location, report);
  }
  return repaired;
}

bool walkEntities(Tag entities, books::Report& report) {
  bool repaired = false;
  for (Tag entity = firstCompound(entities); entity; entity = entity.nextSibling()) {
    Tag id = getString(entity, "id");
    if (!id) {
      report.add(Finding::warning, "Warning: entity ID missing or malformed!\n");
      continue;
    }
    if (id.stringValue() != "minecraft:item_frame") continue;
    Tag item = getCompound(entity, "Item");
    if (!item) continue;
    Tag itemId = getString(item, "id");
    if (!itemId) {
      report.add(Finding::warning, "Warning: framed item ID missing or malformed!\n");
      continue;
    }
    // A frame is named by what it shows; its position is the frame's own.
    const std::string location =
        " in " + std::string(itemId.stringValue()) + coordinates(entity, "TileX", "TileY", "TileZ");
    repaired |= books::checkContainedItem(item, itemId.stringValue(), location, report);
  }
  return repaired;
}

}  // namespace

bool walkedByLevel(int depth, std::string_view name) {
  switch (depth) {
    case 1:
      return name == "Level";
    case 2:
      return name == "TileEntities" || name == "Entities";
    default:
      return true;
  }
}

bool walkLevel(Tag level, books::Report& report) {
  bool repaired = false;
  if (Tag blockEntities = getList(level, "TileEntities")) repaired |= walkBlockEntities(blockEntities, report);
  if (Tag entities = getList(level, "Entities")) repaired |= walkEntities(entities, report);
  return repaired;
}

}  // namespace region
