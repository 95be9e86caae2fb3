#include "chunk_builder.h"

#include <vector>

#include "nbt/build.h"

using namespace nbt;

namespace bench_support {

namespace {

struct Random {
  uint64_t state;
  uint64_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
};

const char* kBlocks[] = {"minecraft:stone", "minecraft:dirt", "minecraft:granite", "minecraft:andesite",
                         "minecraft:coal_ore", "minecraft:iron_ore", "minecraft:gravel", "minecraft:air",
                         "minecraft:water", "minecraft:diorite", "minecraft:deepslate", "minecraft:grass_block"};
const char* kItems[] = {"minecraft:bread", "minecraft:iron_ingot", "minecraft:torch", "minecraft:cobblestone",
                        "minecraft:oak_planks", "minecraft:arrow", "minecraft:string", "minecraft:bone"};

std::unique_ptr<TAG_Compound> section(int y, Random& rng) {
  auto s = std::make_unique<TAG_Compound>();
  put<TAG_Byte>(*s, "Y", static_cast<int8_t>(y));
  int paletteSize = 5 + rng.below(8);
  TAG_List* palette = putList(*s, "Palette", kTagCompound);
  for (int i = 0; i < paletteSize; ++i) {
    auto entry = std::make_unique<TAG_Compound>();
    put<TAG_String>(*entry, "Name", kBlocks[i % 12]);
    if (i % 4 == 3) {
      TAG_Compound* props = put<TAG_Compound>(*entry, "Properties");
      put<TAG_String>(*props, "level", "0");
    }
    palette->elements.push_back(std::move(entry));
  }
  // 1.16 packing: whole entries per long, at least 4 bits each.
  int bits = 4;
  while ((1 << bits) < paletteSize) ++bits;
  int perLong = 64 / bits;
  std::vector<int64_t> states((4096 + perLong - 1) / perLong);
  for (auto& v : states) v = static_cast<int64_t>(rng.next());
  put<TAG_Long_Array>(*s, "BlockStates", std::move(states));
  std::vector<int8_t> light(2048);
  for (auto& v : light) v = static_cast<int8_t>(rng.below(3) ? 0xFF : rng.next());
  put<TAG_Byte_Array>(*s, "SkyLight", light);
  for (auto& v : light) v = static_cast<int8_t>(rng.below(8) ? 0 : rng.next());
  put<TAG_Byte_Array>(*s, "BlockLight", std::move(light));
  return s;
}

std::unique_ptr<TAG_Compound> container(int x, int y, int z, int items, Random& rng) {
  auto c = std::make_unique<TAG_Compound>();
  put<TAG_String>(*c, "id", "minecraft:chest");
  put<TAG_Int>(*c, "x", x);
  put<TAG_Int>(*c, "y", y);
  put<TAG_Int>(*c, "z", z);
  put<TAG_Byte>(*c, "keepPacked", int8_t{0});
  TAG_List* list = putList(*c, "Items", kTagCompound);
  for (int i = 0; i < items; ++i) {
    auto item = std::make_unique<TAG_Compound>();
    put<TAG_Byte>(*item, "Slot", static_cast<int8_t>(i));
    put<TAG_String>(*item, "id", kItems[rng.below(8)]);
    put<TAG_Byte>(*item, "Count", static_cast<int8_t>(1 + rng.below(64)));
    if (i % 5 == 0) {
      TAG_Compound* tag = put<TAG_Compound>(*item, "tag");
      put<TAG_Int>(*tag, "Damage", rng.below(100));
      TAG_Compound* display = put<TAG_Compound>(*tag, "display");
      put<TAG_String>(*display, "Name", "{\"text\":\"Provisions\"}");
    }
    list->elements.push_back(std::move(item));
  }
  return c;
}

}  // namespace

std::unique_ptr<TAG_Compound> buildChunk(int chunkX, int chunkZ, const ChunkShape& shape) {
  Random rng{0x9E3779B97F4A7C15ull ^ (uint64_t(shape.seed) << 20) ^ (uint64_t(uint32_t(chunkX)) << 32) ^
             uint32_t(chunkZ)};
  rng.next();
  auto root = std::make_unique<TAG_Compound>();
  put<TAG_Int>(*root, "DataVersion", 2586);
  TAG_Compound* level = put<TAG_Compound>(*root, "Level");
  put<TAG_Int>(*level, "xPos", chunkX);
  put<TAG_Int>(*level, "zPos", chunkZ);
  put<TAG_Long>(*level, "LastUpdate", int64_t{1234567});
  put<TAG_Long>(*level, "InhabitedTime", int64_t{rng.below(100000)});
  put<TAG_String>(*level, "Status", "full");
  put<TAG_Byte>(*level, "isLightOn", int8_t{1});
  std::vector<int32_t> biomes(1024);
  for (auto& b : biomes) b = rng.below(4) ? 1 : 4;
  put<TAG_Int_Array>(*level, "Biomes", std::move(biomes));
  TAG_Compound* heightmaps = put<TAG_Compound>(*level, "Heightmaps");
  for (const char* name : {"MOTION_BLOCKING", "MOTION_BLOCKING_NO_LEAVES", "OCEAN_FLOOR", "WORLD_SURFACE"}) {
    std::vector<int64_t> heights(37);
    for (auto& h : heights) h = static_cast<int64_t>(rng.next());
    put<TAG_Long_Array>(*heightmaps, name, std::move(heights));
  }
  TAG_List* sections = putList(*level, "Sections", kTagCompound);
  for (int y = 0; y < shape.sections; ++y) sections->elements.push_back(section(y, rng));
  TAG_List* tiles = putList(*level, "TileEntities", kTagCompound);
  for (int i = 0; i < shape.containers; ++i) {
    tiles->elements.push_back(container(chunkX * 16 + i % 16, 10 + i, chunkZ * 16 + (i * 7) % 16,
                                        shape.itemsPerContainer, rng));
  }
  putList(*level, "Entities", kTagCompound);
  TAG_List* post = putList(*level, "PostProcessing", kTagList);
  for (int i = 0; i < 16; ++i) {
    auto empty = std::make_unique<TAG_List>();
    empty->elementType = kTagShort;
    post->elements.push_back(std::move(empty));
  }
  TAG_Compound* structures = put<TAG_Compound>(*level, "Structures");
  put<TAG_Compound>(*structures, "References");
  put<TAG_Compound>(*structures, "Starts");
  return root;
}

}  // namespace bench_support
