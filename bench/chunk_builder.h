#pragma once

// Builds realistic chunks in code, for benchmarks and generated regions: a
// 1.16-style chunk with sections of packed block states and palettes,
// heightmaps, biomes, lighting, and containers full of items.

#include <cstdint>

#include "nbt/byte_buffer.h"

namespace bench_support {

struct ChunkShape {
  int sections = 16;
  int containers = 30;
  int itemsPerContainer = 12;
  uint32_t seed = 1;
};

// The chunk as it stands in a region: an unnamed root compound.
ByteBuffer buildChunk(int chunkX, int chunkZ, const ChunkShape& shape = {});

}  // namespace bench_support
