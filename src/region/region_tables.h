#pragma once

#include <cstdint>

#include "nbt/tag.h"

namespace region {

constexpr int kRegionSide = 32;              // a region is 32 x 32 chunks
constexpr int kSlotCount = kRegionSide * kRegionSide;
constexpr int64_t kSectorSize = 4096;        // records start and end on sector boundaries
constexpr int64_t kHeaderSize = 8192;        // location table, then timestamp table
constexpr int64_t kRecordHeaderSize = 5;     // 4-byte length, 1-byte compression type
constexpr uint8_t kZlibCompression = 2;      // the only compression type the tool reads

// Where a slot's stored bytes lie in the input file, so that a chunk the run
// does not rewrite from a tree can be carried into the new file exactly as it
// was: its record as its length field describes it, extended to the end of
// the sectors its location entry claimed (trailing bytes included), never
// past the end of the file. length 0: nothing stored for the slot.
struct RawRecord {
  int64_t offset = 0;
  int64_t length = 0;
  uint8_t sectorCount = 0;  // the location entry's count as read
};

// The driver's state for one region, for the whole run; all tables are [x][z].
struct RegionTables {
  int64_t offsets[kRegionSide][kRegionSide] = {};
  uint32_t timestamps[kRegionSide][kRegionSide] = {};
  uint8_t rootTypes[kRegionSide][kRegionSide] = {};
  nbt::TAG_String rootNames[kRegionSide][kRegionSide];
  nbt::TagPtr roots[kRegionSide][kRegionSide];
  RawRecord raw[kRegionSide][kRegionSide];
  bool repaired = false;
};

}  // namespace region
