#include "books/places.h"

#include <cmath>
#include <cstring>

#include "books/item_inspection.h"
#include "nbt/big_endian.h"

namespace books {

using namespace nbt;

namespace {

// A position of three ints, if all three are there.
void coordinates(Tag compound, const char* xName, const char* yName, const char* zName, Place& place) {
  Tag x = getInt(compound, xName);
  Tag y = getInt(compound, yName);
  Tag z = getInt(compound, zName);
  if (!x || !y || !z) return;
  place.hasPosition = true;
  place.x = x.intValue();
  place.y = y.intValue();
  place.z = z.intValue();
}

// An entity's "Pos" (three doubles), rounded down to whole blocks, if it has
// such a position.
void position(Tag entity, Place& place) {
  Tag pos = getList(entity, "Pos");
  if (pos.elementType() != kTagDouble || pos.count() != 3) return;
  const uint8_t* values = pos.payload() + 5;  // after the element type and the count
  int32_t at[3];
  for (int i = 0; i < 3; ++i) {
    const uint64_t bits = loadU64(values + 8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    value = std::floor(value);
    if (!(value >= -2147483648.0 && value < 2147483648.0)) return;  // NaN too
    at[i] = static_cast<int32_t>(value);
  }
  place.hasPosition = true;
  place.x = at[0];
  place.y = at[1];
  place.z = at[2];
}

// The lists of a chunk's "Level" (or of the root that stands for it) where
// block entities and entities lie: all that the walk reads of a chunk, and
// all that a tree read for the walk indexes the inside of (with "Level").
struct LevelList {
  std::string_view name;
  bool blockEntities;  // else entities
};
constexpr LevelList kLevelLists[] = {
    {"TileEntities", true},
    {"block_entities", true},  // 1.18 and later, at the root
    {"Entities", false},       // before 1.17 in "Level"; then in entity chunks, at the root
};

bool listed(std::string_view name) {
  for (const LevelList& list : kLevelLists) {
    if (name == list.name) return true;
  }
  return false;
}

// Asked for each compound entry at a depth (the root's entries at 1):
// "Level" and the lists, in it or at a root that stands for it.
bool walked(int depth, std::string_view name) { return depth > 2 || (depth == 1 && name == "Level") || listed(name); }

// The compounds of a list; a list of anything else holds none.
Tag firstCompound(Tag list) { return list.elementType() == kTagCompound ? list.firstChild() : Tag(); }

bool walkBlockEntities(Tag blockEntities, Inspection& in) {
  bool repaired = false;
  for (Tag blockEntity = firstCompound(blockEntities); blockEntity; blockEntity = blockEntity.nextSibling()) {
    Tag items = getList(blockEntity, "Items");
    Spot spot;
    spot.holder = Place::Holder::blockEntity;
    spot.tag = blockEntity;
    if (!in.everywhere) {
      if (items) repaired |= checkContainedItems(items, spot, in);
      continue;
    }
    if (items) repaired |= checkContainedItems(items, spot, in);
    if (Tag book = getCompound(blockEntity, "Book")) repaired |= checkItem(book, spot, in);  // a lectern's
    repaired |= searchItems(blockEntity, {"Items", "Book"}, spot, in);
  }
  return repaired;
}

bool walkEntity(Tag entity, std::string_view id, Inspection& in);

bool walkEntities(Tag entities, Inspection& in) {
  bool repaired = false;
  for (Tag entity = firstCompound(entities); entity; entity = entity.nextSibling()) {
    Tag id = getString(entity, "id");
    if (!id) {
      in.warn(Subject::entityIdMissing);
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
      in.warn(Subject::framedItemIdMissing);
      return repaired;
    }
    // A frame is named by what it shows; its position is the frame's own.
    Spot frame;
    frame.holder = Place::Holder::frame;
    frame.tag = entity;
    frame.item = item;
    return repaired | checkContainedItem(item, itemId.stringValue(), frame, in);
  }
  if (!in.everywhere) return repaired;
  Spot spot;
  spot.holder = Place::Holder::entity;
  spot.tag = entity;
  for (const char* name : {"Items", "Inventory", "HandItems", "ArmorItems"}) {
    if (Tag items = getList(entity, name)) repaired |= checkSlots(items, spot, in);
  }
  if (Tag item = getCompound(entity, "Item"); item && item.firstChild()) repaired |= checkItem(item, spot, in);
  return repaired |
         searchItems(entity, {"Passengers", "Items", "Inventory", "HandItems", "ArmorItems", "Item"}, spot, in);
}

}  // namespace

bool walkLevel(Tag level, Inspection& in) {
  bool repaired = false;
  for (const LevelList& list : kLevelLists) {
    if (Tag tag = getList(level, list.name)) {
      repaired |= list.blockEntities ? walkBlockEntities(tag, in) : walkEntities(tag, in);
    }
  }
  return repaired;
}

bool walkPlayer(Tag player, const std::string& owner, Inspection& in) {
  bool repaired = false;
  Spot inventory, enderChest;
  inventory.holder = Place::Holder::inventory;
  enderChest.holder = Place::Holder::enderChest;
  inventory.owner = enderChest.owner = &owner;
  if (Tag items = getList(player, "Inventory")) repaired |= checkSlots(items, inventory, in);
  if (Tag items = getList(player, "EnderItems")) repaired |= checkSlots(items, enderChest, in);
  // What the player rode when they left: a boat with a chest, a donkey...
  if (Tag vehicle = getCompound(getCompound(player, "RootVehicle"), "Entity")) {
    Tag id = getString(vehicle, "id");
    if (id) {
      repaired |= walkEntity(vehicle, id.stringValue(), in);
    } else {
      in.warn(Subject::entityIdMissing);
    }
  }
  // Armour, the off hand (in "equipment" from 1.21.5) and anything else.
  return repaired | searchItems(player, {"Inventory", "EnderItems", "RootVehicle"}, inventory, in);
}

Place Spot::place() const {
  Place place;
  const Spot* spot = this;
  for (; spot->outer; spot = spot->outer) place.inside.emplace_back(getString(spot->tag, "id").stringValue());
  place.holder = spot->holder;
  switch (spot->holder) {
    case Place::Holder::none:
      break;
    case Place::Holder::blockEntity:
      if (Tag id = getString(spot->tag, "id")) {
        place.hasId = true;
        place.id = id.stringValue();
      }
      coordinates(spot->tag, "x", "y", "z", place);
      break;
    case Place::Holder::entity:
      place.hasId = true;
      place.id = getString(spot->tag, "id").stringValue();
      position(spot->tag, place);
      break;
    case Place::Holder::frame:
      place.hasId = true;
      place.id = getString(spot->item, "id").stringValue();
      place.frame = getString(spot->tag, "id").stringValue();
      coordinates(spot->tag, "TileX", "TileY", "TileZ", place);
      break;
    case Place::Holder::inventory:
    case Place::Holder::enderChest:
      place.hasId = true;
      place.id = *spot->owner;
      break;
  }
  return place;
}

nbt::IndexScope scopeOfWalk() { return walked; }

}  // namespace books
