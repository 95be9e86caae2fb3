#pragma once

// Builds realistic chunk trees in code, for benchmarks and generated regions:
// a 1.16-style chunk with 16 sections of packed block states and palettes,
// heightmaps, biomes, lighting, and containers full of items.

#include <cstdint>
#include <memory>
#include <string>

#include "nbt/tag.h"

namespace bench_support {

struct ChunkShape {
  int sections = 16;
  int containers = 30;
  int itemsPerContainer = 12;
  uint32_t seed = 1;
};

std::unique_ptr<nbt::TAG_Compound> buildChunk(int chunkX, int chunkZ, const ChunkShape& shape = {});

}  // namespace bench_support
