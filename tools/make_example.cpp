// make_example OUT
// Writes the bundled example region (examples/broken-books.mca): broken books
// in a chest, in an item frame, and in a shulker box inside a shulker box
// inside a barrel; a book that only draws "may have been corrupted" reports;
// and a chunk with one malformed item. The same bytes every time.
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "nbt/build.h"
#include "region/region_writer.h"

using namespace nbt;

namespace {

std::unique_ptr<TAG_Compound> item(const std::string& id, int slot) {
  auto i = std::make_unique<TAG_Compound>();
  put<TAG_Byte>(*i, "Slot", static_cast<int8_t>(slot));
  put<TAG_String>(*i, "id", id);
  put<TAG_Byte>(*i, "Count", int8_t{1});
  return i;
}

std::unique_ptr<TAG_Compound> book(const std::string& title, std::initializer_list<const char*> pages, int slot) {
  auto b = item("minecraft:written_book", slot);
  TAG_Compound* tag = put<TAG_Compound>(*b, "tag");
  put<TAG_String>(*tag, "title", title);
  put<TAG_String>(*tag, "author", "Steve");
  TAG_List* list = put<TAG_List>(*tag, "pages");
  list->elementType = kTagString;
  for (const char* page : pages) list->elements.push_back(std::make_unique<TAG_String>(page));
  return b;
}

std::unique_ptr<TAG_Compound> shulkerBox(const std::string& id, std::unique_ptr<TAG_Compound> content, int slot) {
  auto box = item(id, slot);
  TAG_Compound* blockEntity = put<TAG_Compound>(*put<TAG_Compound>(*box, "tag"), "BlockEntityTag");
  putList(*blockEntity, "Items")->elements.push_back(std::move(content));
  return box;
}

std::unique_ptr<TAG_Compound> container(const std::string& id, int x, int y, int z) {
  auto c = std::make_unique<TAG_Compound>();
  put<TAG_String>(*c, "id", id);
  put<TAG_Int>(*c, "x", x);
  put<TAG_Int>(*c, "y", y);
  put<TAG_Int>(*c, "z", z);
  putList(*c, "Items");
  return c;
}

struct Chunk {
  std::unique_ptr<TAG_Compound> root = std::make_unique<TAG_Compound>();
  TAG_Compound* level;
  TAG_List* tileEntities;
  TAG_List* entities;
  Chunk(int x, int z) {
    put<TAG_Int>(*root, "DataVersion", 2586);
    level = put<TAG_Compound>(*root, "Level");
    put<TAG_Int>(*level, "xPos", x);
    put<TAG_Int>(*level, "zPos", z);
    put<TAG_String>(*level, "Status", "full");
    tileEntities = putList(*level, "TileEntities");
    entities = putList(*level, "Entities");
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
    return 2;
  }
  auto tables = std::make_unique<region::RegionTables>();
  auto store = [&](int x, int z, Chunk& chunk) {
    tables->rootTypes[x][z] = kTagCompound;
    tables->timestamps[x][z] = 1700000000u + static_cast<uint32_t>(x + 32 * z);
    tables->roots[x][z] = std::move(chunk.root);
  };

  Chunk farm(0, 0);  // a chest with a plain-text book
  auto chest = container("minecraft:chest", 3, 64, 5);
  auto* chestItems = static_cast<TAG_List*>(chest->children.find("Items"));
  chestItems->elements.push_back(item("minecraft:wheat", 0));
  chestItems->elements.push_back(book("Farm Notes",
                                      {"Wheat grows best by the river.", "Carrots: north field\nPotatoes: south field",
                                       "{\"text\":\"Signed, the farmer\"}"},
                                      1));
  farm.tileEntities->elements.push_back(std::move(chest));
  store(0, 0, farm);

  Chunk spawn(1, 0);  // a book shown in an item frame
  auto frame = std::make_unique<TAG_Compound>();
  put<TAG_String>(*frame, "id", "minecraft:item_frame");
  put<TAG_Int>(*frame, "TileX", 20);
  put<TAG_Int>(*frame, "TileY", 70);
  put<TAG_Int>(*frame, "TileZ", 2);
  frame->children.put("Item", book("Welcome", {"Welcome to our server!", "Please read the \"rules\" book."}, 0));
  spawn.entities->elements.push_back(std::move(frame));
  store(1, 0, spawn);

  Chunk cellar(0, 1);  // a book in a shulker box in a shulker box in a barrel
  auto barrel = container("minecraft:barrel", 4, 60, 20);
  static_cast<TAG_List*>(barrel->children.find("Items"))
      ->elements.push_back(shulkerBox("minecraft:red_shulker_box",
                                      shulkerBox("minecraft:shulker_box",
                                                 book("Secret", {"The key is under the old well."}, 0), 0),
                                      0));
  cellar.tileEntities->elements.push_back(std::move(barrel));
  store(0, 1, cellar);

  Chunk vault(1, 1);  // JSON-looking pages and no space anywhere: only reports
  auto safe = container("minecraft:chest", 25, 65, 18);
  static_cast<TAG_List*>(safe->children.find("Items"))
      ->elements.push_back(book("Codes", {"{\"text\":\"a1b2c3\"}", "\"x9y8z7\""}, 0));
  vault.tileEntities->elements.push_back(std::move(safe));
  store(1, 1, vault);

  Chunk shed(2, 0);  // one malformed item: no id
  auto box = container("minecraft:chest", 40, 63, 7);
  auto* boxItems = static_cast<TAG_List*>(box->children.find("Items"));
  auto noId = std::make_unique<TAG_Compound>();
  put<TAG_Byte>(*noId, "Slot", int8_t{0});
  put<TAG_Byte>(*noId, "Count", int8_t{3});
  boxItems->elements.push_back(std::move(noId));
  boxItems->elements.push_back(item("minecraft:iron_shovel", 1));
  shed.tileEntities->elements.push_back(std::move(box));
  store(2, 0, shed);

  return region::writeRegion(argv[1], *tables, nullptr);
}
