#include "books/places.h"

#include <cmath>
#include <cstring>

#include "books/item_inspection.h"
#include "nbt/big_endian.h"

namespace books {

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
    const uint64_t bits = loadU64(values + 8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    value = std::floor(value);
    if (!(value >= -2147483648.0 && value < 2147483648.0)) return "";  // NaN too
    text += (i ? "," : "") + std::to_string(static_cast<long long>(value));
  }
  return text;
}

// " in <id> at x,y,z" of a block entity, by its block position.
std::string blockEntityLocation(Tag blockEntity, const std::string&) {
  std::string location;
  if (Tag id = getString(blockEntity, "id")) location = " in " + std::string(id.stringValue());
  return location + coordinates(blockEntity, "x", "y", "z");
}

// " in <id> at x,y,z" of an entity, by its position.
std::string entityLocation(Tag entity, const std::string&) {
  return " in " + std::string(getString(entity, "id").stringValue()) + position(entity);
}

std::string given(Tag, const std::string& text) { return text; }

// The lists of a chunk's "Level" (or of the root that stands for it) where
// block entities and entities lie: all that the walk reads of a chunk, and
// all that a tree read for the walk indexes the inside of (with "Level").
struct LevelList {
  std::string_view name;
  bool blockEntities;   // else entities
  bool everywhereOnly;  // a list of the newer layouts, read with --everywhere alone
};
constexpr LevelList kLevelLists[] = {
    {"TileEntities", true, false},
    {"block_entities", true, true},
    {"Entities", false, false},
};

bool listed(std::string_view name, bool everywhere) {
  for (const LevelList& list : kLevelLists) {
    if (name == list.name && (everywhere || !list.everywhereOnly)) return true;
  }
  return false;
}

// Asked for each compound entry at a depth (the root's entries at 1):
// "Level" and the lists; everywhere, the root may stand for "Level".
template <bool everywhere>
bool walked(int depth, std::string_view name) {
  switch (depth) {
    case 1:
      return name == "Level" || (everywhere && listed(name, true));
    case 2:
      return listed(name, everywhere);
    default:
      return true;
  }
}

// The compounds of a list; a list of anything else holds none.
Tag firstCompound(Tag list) { return list.elementType() == kTagCompound ? list.firstChild() : Tag(); }

bool walkBlockEntities(Tag blockEntities, Inspection& in) {
  bool repaired = false;
  for (Tag blockEntity = firstCompound(blockEntities); blockEntity; blockEntity = blockEntity.nextSibling()) {
    Tag items = getList(blockEntity, "Items");
    if (!in.everywhere) {
      if (items) repaired |= checkContainedItems(items, blockEntityLocation(blockEntity, ""), in);
      continue;
    }
    LazyLocation location(blockEntityLocation, blockEntity);
    if (items) repaired |= checkContainedItems(items, location.text(), in);
    if (Tag book = getCompound(blockEntity, "Book")) repaired |= checkItem(book, location.text(), in);  // a lectern's
    repaired |= searchItems(blockEntity, {"Items", "Book"}, location, in);
  }
  return repaired;
}

bool walkEntity(Tag entity, std::string_view id, Inspection& in);

bool walkEntities(Tag entities, Inspection& in) {
  bool repaired = false;
  for (Tag entity = firstCompound(entities); entity; entity = entity.nextSibling()) {
    Tag id = getString(entity, "id");
    if (!id) {
      in.report.add(Finding::warning, "Warning: entity ID missing or malformed!\n");
      continue;
    }
    repaired |= walkEntity(entity, id.stringValue(), in);
  }
  return repaired;
}

// An entity: a frame shows an item; with `in.everywhere`, minecarts, boats
// and beasts with chests, villagers, whatever holds or wears something,
// items lying on the ground, and every item anywhere else in it, and the
// entities riding it.
bool walkEntity(Tag entity, std::string_view id, Inspection& in) {
  bool repaired = false;
  // Riders, to any depth the reader allows.
  if (Tag passengers = in.everywhere ? getList(entity, "Passengers") : Tag()) repaired |= walkEntities(passengers, in);
  if (id == "minecraft:item_frame" || (in.everywhere && id == "minecraft:glow_item_frame")) {
    Tag item = getCompound(entity, "Item");
    if (!item) return repaired;
    Tag itemId = getString(item, "id");
    if (!itemId) {
      in.report.add(Finding::warning, "Warning: framed item ID missing or malformed!\n");
      return repaired;
    }
    // A frame is named by what it shows; its position is the frame's own.
    const std::string location =
        " in " + std::string(itemId.stringValue()) + coordinates(entity, "TileX", "TileY", "TileZ");
    return repaired | checkContainedItem(item, itemId.stringValue(), location, in);
  }
  if (!in.everywhere) return repaired;
  LazyLocation location(entityLocation, entity);
  for (const char* name : {"Items", "Inventory", "HandItems", "ArmorItems"}) {
    if (Tag items = getList(entity, name)) repaired |= checkSlots(items, location.text(), in);
  }
  if (Tag item = getCompound(entity, "Item"); item && item.firstChild()) repaired |= checkItem(item, location.text(), in);
  return repaired |
         searchItems(entity, {"Passengers", "Items", "Inventory", "HandItems", "ArmorItems", "Item"}, location, in);
}

}  // namespace

bool walkLevel(Tag level, Inspection& in) {
  bool repaired = false;
  for (const LevelList& list : kLevelLists) {
    if (list.everywhereOnly && !in.everywhere) continue;
    if (Tag tag = getList(level, list.name)) {
      repaired |= list.blockEntities ? walkBlockEntities(tag, in) : walkEntities(tag, in);
    }
  }
  return repaired;
}

bool walkPlayer(Tag player, const std::string& owner, Inspection& in) {
  bool repaired = false;
  const std::string inventory = " in the inventory of " + owner;
  if (Tag items = getList(player, "Inventory")) repaired |= checkSlots(items, inventory, in);
  if (Tag items = getList(player, "EnderItems")) repaired |= checkSlots(items, " in the ender chest of " + owner, in);
  // What the player rode when they left: a boat with a chest, a donkey...
  if (Tag vehicle = getCompound(getCompound(player, "RootVehicle"), "Entity")) {
    Tag id = getString(vehicle, "id");
    if (id) {
      repaired |= walkEntity(vehicle, id.stringValue(), in);
    } else {
      in.report.add(Finding::warning, "Warning: entity ID missing or malformed!\n");
    }
  }
  // Armour, the off hand (in "equipment" from 1.21.5) and anything else.
  LazyLocation rest(given, Tag(), inventory);
  return repaired | searchItems(player, {"Inventory", "EnderItems", "RootVehicle"}, rest, in);
}

nbt::IndexScope scopeOfWalk(bool everywhere) { return everywhere ? walked<true> : walked<false>; }

}  // namespace books
