#pragma once

#include "nbt/byte_buffer.h"
#include "region/region_tables.h"

namespace region {

// Reads the root of one inflated chunk into `tables`, reports what is wrong
// with it, and (when `walk`) walks a good chunk's "Level", ORing the walk
// into `repaired`.
void loadChunkRoot(int x, int z, const ByteBuffer& data, RegionTables& tables, bool walk = true);

}  // namespace region
