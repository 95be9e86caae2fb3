#include "chunk_builder.h"

#include <vector>

#include "nbt/builder.h"

using nbt::Builder;

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

void section(Builder& b, int y, Random& rng) {
  b.beginCompound().byteTag("Y", static_cast<int8_t>(y));
  int paletteSize = 5 + rng.below(8);
  b.beginList("Palette", nbt::kTagCompound);
  for (int i = 0; i < paletteSize; ++i) {
    b.beginCompound().stringTag("Name", kBlocks[i % 12]);
    if (i % 4 == 3) b.beginCompound("Properties").stringTag("level", "0").end();
    b.end();
  }
  b.end();
  // 1.16 packing: whole entries per long, at least 4 bits each.
  int bits = 4;
  while ((1 << bits) < paletteSize) ++bits;
  int perLong = 64 / bits;
  std::vector<int64_t> states((4096 + perLong - 1) / perLong);
  for (auto& v : states) v = static_cast<int64_t>(rng.next());
  b.longArray("BlockStates", states);
  std::vector<int8_t> light(2048);
  for (auto& v : light) v = static_cast<int8_t>(rng.below(3) ? 0xFF : rng.next());
  b.byteArray("SkyLight", light);
  for (auto& v : light) v = static_cast<int8_t>(rng.below(8) ? 0 : rng.next());
  b.byteArray("BlockLight", light);
  b.end();
}

void container(Builder& b, int x, int y, int z, int items, Random& rng) {
  b.beginCompound().stringTag("id", "minecraft:chest").intTag("x", x).intTag("y", y).intTag("z", z);
  b.byteTag("keepPacked", 0).beginList("Items", nbt::kTagCompound);
  for (int i = 0; i < items; ++i) {
    b.beginCompound().byteTag("Slot", static_cast<int8_t>(i)).stringTag("id", kItems[rng.below(8)]);
    b.byteTag("Count", static_cast<int8_t>(1 + rng.below(64)));
    if (i % 5 == 0) {
      b.beginCompound("tag").intTag("Damage", rng.below(100));
      b.beginCompound("display").stringTag("Name", "{\"text\":\"Provisions\"}").end().end();
    }
    b.end();
  }
  b.end().end();
}

}  // namespace

ByteBuffer buildChunk(int chunkX, int chunkZ, const ChunkShape& shape) {
  Random rng{0x9E3779B97F4A7C15ull ^ (uint64_t(shape.seed) << 20) ^ (uint64_t(uint32_t(chunkX)) << 32) ^
             uint32_t(chunkZ)};
  rng.next();
  ByteBuffer bytes;
  Builder b(bytes);
  b.beginCompound("").intTag("DataVersion", 2586).beginCompound("Level");
  b.intTag("xPos", chunkX).intTag("zPos", chunkZ).longTag("LastUpdate", 1234567);
  b.longTag("InhabitedTime", rng.below(100000)).stringTag("Status", "full").byteTag("isLightOn", 1);
  std::vector<int32_t> biomes(1024);
  for (auto& v : biomes) v = rng.below(4) ? 1 : 4;
  b.intArray("Biomes", biomes).beginCompound("Heightmaps");
  for (const char* name : {"MOTION_BLOCKING", "MOTION_BLOCKING_NO_LEAVES", "OCEAN_FLOOR", "WORLD_SURFACE"}) {
    std::vector<int64_t> heights(37);
    for (auto& h : heights) h = static_cast<int64_t>(rng.next());
    b.longArray(name, heights);
  }
  b.end().beginList("Sections", nbt::kTagCompound);
  for (int y = 0; y < shape.sections; ++y) section(b, y, rng);
  b.end().beginList("TileEntities", nbt::kTagCompound);
  for (int i = 0; i < shape.containers; ++i) {
    container(b, chunkX * 16 + i % 16, 10 + i, chunkZ * 16 + (i * 7) % 16, shape.itemsPerContainer, rng);
  }
  b.end().beginList("Entities", nbt::kTagCompound).end().beginList("PostProcessing", nbt::kTagList);
  for (int i = 0; i < 16; ++i) b.beginList("", nbt::kTagShort).end();
  b.end().beginCompound("Structures").beginCompound("References").end().beginCompound("Starts").end().end();
  b.end().end();
  return bytes;
}

}  // namespace bench_support
