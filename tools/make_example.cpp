// make_example OUT
// make_example --1.20 REGION ENTITIES
// Writes the bundled example region (examples/broken-books.mca): broken books
// in a chest, in an item frame, and in a shulker box inside a shulker box
// inside a barrel; a book that only draws "may have been corrupted" reports;
// and a chunk with one malformed item. The same bytes every time. With
// --1.20, the same as Minecraft 1.20.1 saves it (examples/broken-books-1.20
// and its entities file, -entities.mca): no "Level", block entities at the
// chunk's root, the frame in an entity chunk of its own.
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>

#include "nbt/builder.h"
#include "anvil/region_writer.h"
#include "app/console.h"
#include "app/rewrite.h"

using nbt::Builder;

namespace {

// An item's entries; the caller opens and closes its compound.
void item(Builder& b, const std::string& id, int slot) {
  b.byteTag("Slot", static_cast<int8_t>(slot)).stringTag("id", id).byteTag("Count", 1);
}

void book(Builder& b, const std::string& title, std::initializer_list<const char*> pages, int slot) {
  item(b, "minecraft:written_book", slot);
  b.beginCompound("tag").stringTag("title", title).stringTag("author", "Steve");
  b.beginList("pages", nbt::kTagString);
  for (const char* page : pages) b.stringTag("", page);
  b.end().end();
}

void shulkerBox(Builder& b, const std::string& id, const std::function<void(Builder&)>& content) {
  item(b, id, 0);
  b.beginCompound("tag").beginCompound("BlockEntityTag").beginList("Items", nbt::kTagCompound);
  b.beginCompound();
  content(b);
  b.end().end().end().end();
}

// A container's entries up to its open "Items" list.
void container(Builder& b, const std::string& id, int x, int y, int z) {
  b.stringTag("id", id).intTag("x", x).intTag("y", y).intTag("z", z).beginList("Items", nbt::kTagCompound);
}

// The layout the chunks are written in: 1.16's, or 1.20's (no "Level").
bool modern = false;
anvil::MadeRecords entityRecords;
anvil::RegionFile entityFile;

// A chunk with the given block entities and entities, each written by a function.
ByteBuffer chunk(int x, int z, const std::function<void(Builder&)>& tileEntities,
                 const std::function<void(Builder&)>& entities = [](Builder&) {}) {
  ByteBuffer bytes;
  Builder b(bytes);
  if (modern) {
    b.beginCompound("").intTag("DataVersion", 3465).intTag("xPos", x).intTag("zPos", z);
    b.stringTag("Status", "minecraft:full").beginList("block_entities", nbt::kTagCompound);
    tileEntities(b);
    b.end().end();
    // Its entities in the entity chunk of the same place, when it has any.
    ByteBuffer entityBytes;
    Builder e(entityBytes);
    e.beginCompound("").intTag("DataVersion", 3465).beginList("Entities", nbt::kTagCompound);
    entities(e);
    e.end().end();
    const int n = x + anvil::kRegionSide * z;
    if (entityBytes.size() > 40) {
      entityFile.slots[n].rewritten = true;
      entityFile.slots[n].timestamp = 1700000000u + static_cast<uint32_t>(n);
      anvil::makeRecord(entityBytes.data(), entityBytes.size(), entityRecords.records[n]);
    }
    return bytes;
  }
  b.beginCompound("").intTag("DataVersion", 2586).beginCompound("Level");
  b.intTag("xPos", x).intTag("zPos", z).stringTag("Status", "full");
  b.beginList("TileEntities", nbt::kTagCompound);
  tileEntities(b);
  b.end().beginList("Entities", nbt::kTagCompound);
  entities(b);
  b.end().end().end();
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  modern = argc == 4 && std::string(argv[1]) == "--1.20";
  if (argc != 2 && !modern) {
    std::fprintf(stderr, "usage: %s OUT | %s --1.20 REGION ENTITIES\n", argv[0], argv[0]);
    return 2;
  }
  anvil::MadeRecords records;
  anvil::RegionFile made;
  auto& slots = made.slots;
  auto store = [&](int x, int z, const ByteBuffer& nbt) {
    const int n = x + anvil::kRegionSide * z;
    slots[n].rewritten = true;
    slots[n].timestamp = 1700000000u + static_cast<uint32_t>(n);
    anvil::makeRecord(nbt.data(), nbt.size(), records.records[n]);
  };

  store(0, 0, chunk(0, 0, [](Builder& b) {  // a chest with a plain-text book
          b.beginCompound();
          container(b, "minecraft:chest", 3, 64, 5);
          b.beginCompound();
          item(b, "minecraft:wheat", 0);
          b.end().beginCompound();
          book(b,
               "Farm Notes",
               {"Wheat grows best by the river.", "Carrots: north field\nPotatoes: south field",
                "{\"text\":\"Signed, the farmer\"}"},
               1);
          b.end().end().end();
        }));

  store(1, 0, chunk(1, 0, [](Builder&) {}, [](Builder& b) {  // a book shown in an item frame
          b.beginCompound().stringTag("id", "minecraft:item_frame");
          b.intTag("TileX", 20).intTag("TileY", 70).intTag("TileZ", 2).beginCompound("Item");
          book(b, "Welcome", {"Welcome to our server!", "Please read the \"rules\" book."}, 0);
          b.end().end();
        }));

  store(0, 1, chunk(0, 1, [](Builder& b) {  // a book in a shulker box in a shulker box in a barrel
          b.beginCompound();
          container(b, "minecraft:barrel", 4, 60, 20);
          b.beginCompound();
          shulkerBox(b, "minecraft:red_shulker_box", [](Builder& b) {
            shulkerBox(b, "minecraft:shulker_box",
                       [](Builder& b) { book(b, "Secret", {"The key is under the old well."}, 0); });
          });
          b.end().end().end();
        }));

  store(1, 1, chunk(1, 1, [](Builder& b) {  // JSON-looking pages and no space anywhere: only reports
          b.beginCompound();
          container(b, "minecraft:chest", 25, 65, 18);
          b.beginCompound();
          book(b, "Codes", {"{\"text\":\"a1b2c3\"}", "\"x9y8z7\""}, 0);
          b.end().end().end();
        }));

  store(2, 0, chunk(2, 0, [](Builder& b) {  // one malformed item: no id
          b.beginCompound();
          container(b, "minecraft:chest", 40, 63, 7);
          b.beginCompound().byteTag("Slot", 0).byteTag("Count", 3).end();
          b.beginCompound();
          item(b, "minecraft:iron_shovel", 1);
          b.end().end().end();
        }));

  app::StreamOutput out(stdout);
  if (modern && app::writeRegionFile(argv[3], entityFile, entityRecords, out) != 0) return 1;
  return app::writeRegionFile(argv[modern ? 2 : 1], made, records, out);
}
