#include "region/chunk_walk.h"

#include <cmath>
#include <cstring>
#include <string>

#include "books/item_inspection.h"
#include "nbt/big_endian.h"

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

// " at x,y,z" of an entity's "Pos" (three doubles), rounded down to whole
// blocks; nothing when it has no such position.
std::string position(Tag entity) {
  Tag pos = getList(entity, "Pos");
  if (pos.elementType() != kTagDouble || pos.count() != 3) return "";
  const uint8_t* values = pos.payload() + 5;  // after the element type and the count
  std::string text = " at ";
  for (int i = 0; i < 3; ++i) {
    const uint64_t bits = nbt::loadU64(values + 8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    value = std::floor(value);
    if (!(value >= -2147483648.0 && value < 2147483648.0)) return "";  // NaN too
    text += (i ? "," : "") + std::to_string(static_cast<long long>(value));
  }
  return text;
}

// The compounds of a list; a list of anything else holds none.
Tag firstCompound(Tag list) { return list.elementType() == kTagCompound ? list.firstChild() : Tag(); }

// One item that lies alone (on a lectern, on the ground, in a hand).
bool checkItem(Tag item, const std::string& location, books::Report& report) {
  Tag id = getString(item, "id");
  if (!id) {
    report.add(Finding::warning, "Warning: contained item ID missing or malformed!\n");
    return false;
  }
  return books::checkContainedItem(item, id.stringValue(), location, report);
}

bool walkBlockEntities(Tag blockEntities, bool everywhere, books::Report& report) {
  bool repaired = false;
  for (Tag blockEntity = firstCompound(blockEntities); blockEntity; blockEntity = blockEntity.nextSibling()) {
    Tag items = getList(blockEntity, "Items");
    Tag book = everywhere ? getCompound(blockEntity, "Book") : Tag();  // a lectern's
    if (!items && !book) continue;  // before the location, which most block entities would never need
    std::string location;
    if (Tag id = getString(blockEntity, "id")) location = " in " + std::string(id.stringValue());
    location += coordinates(blockEntity, "x", "y", "z");
    if (items) repaired |= books::checkContainedItems(items, location, report);
    if (book) repaired |= checkItem(book, location, report);
  }
  return repaired;
}

// An entity's own items: minecarts, boats and beasts with chests, villagers,
// whatever holds or wears something, items lying on the ground, and the
// entities riding it. Empty slots (empty compounds) are passed over.
bool walkEntityItems(Tag entity, std::string_view id, books::Report& report) {
  bool repaired = false;
  std::string location;
  for (const char* name : {"Items", "Inventory", "HandItems", "ArmorItems"}) {
    Tag items = getList(entity, name);
    if (!items) continue;
    if (location.empty()) location = " in " + std::string(id) + position(entity);
    repaired |= checkSlots(items, location, report);
  }
  if (Tag item = getCompound(entity, "Item"); item && item.firstChild()) {
    if (location.empty()) location = " in " + std::string(id) + position(entity);
    repaired |= checkItem(item, location, report);
  }
  return repaired;
}

bool walkEntities(Tag entities, bool everywhere, books::Report& report) {
  bool repaired = false;
  for (Tag entity = firstCompound(entities); entity; entity = entity.nextSibling()) {
    Tag id = getString(entity, "id");
    if (!id) {
      report.add(Finding::warning, "Warning: entity ID missing or malformed!\n");
      continue;
    }
    const bool frame = id.stringValue() == "minecraft:item_frame" ||
                       (everywhere && id.stringValue() == "minecraft:glow_item_frame");
    // Riders, to any depth the reader allows.
    if (Tag passengers = everywhere ? getList(entity, "Passengers") : Tag()) {
      repaired |= walkEntities(passengers, everywhere, report);
    }
    if (everywhere && !frame) {
      repaired |= walkEntityItems(entity, id.stringValue(), report);
      continue;
    }
    if (!frame) continue;
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

bool checkSlots(Tag items, const std::string& location, books::Report& report) {
  if (items.elementType() != kTagCompound) return books::checkContainedItems(items, location, report);  // says what is wrong
  bool repaired = false;
  for (Tag item = items.firstChild(); item; item = item.nextSibling()) {
    if (item.firstChild()) repaired |= checkItem(item, location, report);
  }
  return repaired;
}

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

bool walkedEverywhere(int depth, std::string_view name) {
  switch (depth) {
    case 1:
      return name == "Level" || name == "block_entities" || name == "Entities";
    case 2:
      return name == "TileEntities" || name == "Entities";
    default:
      return true;
  }
}

bool walkLevel(Tag level, books::Report& report, bool everywhere) {
  bool repaired = false;
  if (Tag blockEntities = getList(level, "TileEntities")) repaired |= walkBlockEntities(blockEntities, everywhere, report);
  if (everywhere) {
    if (Tag blockEntities = getList(level, "block_entities")) repaired |= walkBlockEntities(blockEntities, true, report);
  }
  if (Tag entities = getList(level, "Entities")) repaired |= walkEntities(entities, everywhere, report);
  return repaired;
}

}  // namespace region
