#pragma once

// The region file's layout, the one place it is written down:
//
//   0      4096 bytes  location table: one 4-byte entry per slot (3-byte sector number, 1-byte sector count)
//   4096   4096 bytes  timestamp table: one 4-byte entry per slot, kept as read
//   8192   ...         chunk records, each starting on a sector boundary:
//                      4-byte length L (the bytes that follow it), 1-byte compression type, L - 1 bytes of data
//
// A region holds 32 x 32 chunks; slot n = x + 32 z. All numbers are big-endian.

#include <cstdint>

#include "nbt/big_endian.h"

namespace anvil {

constexpr int kRegionSide = 32;                       // a region is 32 x 32 chunks
constexpr int kSlotCount = kRegionSide * kRegionSide;  // one location and one timestamp entry each
constexpr int64_t kSectorSize = 4096;                 // records start and end on sector boundaries
constexpr int64_t kHeaderSize = 2 * kSectorSize;      // location table, then timestamp table
constexpr int64_t kRecordHeaderSize = 5;              // 4-byte length, 1-byte compression type
// Compression types of a record; the game reads each, whatever its own setting.
constexpr uint8_t kGzipCompression = 1;
constexpr uint8_t kZlibCompression = 2;               // what the game writes unless told otherwise
constexpr uint8_t kNoCompression = 3;                 // since 1.20.5, a server's choice
constexpr uint8_t kLz4Compression = 4;                // since 1.20.5, a server's choice
constexpr uint8_t kCustomCompression = 127;           // an algorithm the record names
constexpr uint8_t kExternalFlag = 0x80;               // in the type: the data is in the chunk's own .mcc file
constexpr int64_t kMaxSectorCount = 255;              // one byte in the location entry
constexpr int64_t kMaxSectorNumber = (1 << 24) - 1;   // three bytes in the location entry
// A chunk too large for its region lies in a file of its own (c.X.Z.mcc)
// only from 1.15: an older game takes it for missing and generates it anew.
// Other tools write such files from the same data version.
constexpr int kFirstVersionWithChunkFiles = 2203;

inline int slotX(int slot) { return slot % kRegionSide; }
inline int slotZ(int slot) { return slot / kRegionSide; }

struct Location {
  uint32_t sector = 0;  // 0: the slot is empty
  uint8_t count = 0;
};

inline Location loadLocation(const uint8_t* header, int slot) {
  const uint32_t entry = nbt::loadU32(header + 4 * slot);
  return {entry >> 8, static_cast<uint8_t>(entry)};
}
inline void storeLocation(uint8_t* header, int slot, Location location) {
  nbt::storeU32(header + 4 * slot, (location.sector << 8) | location.count);
}
inline uint32_t loadTimestamp(const uint8_t* header, int slot) {
  return nbt::loadU32(header + kSectorSize + 4 * slot);
}
inline void storeTimestamp(uint8_t* header, int slot, uint32_t timestamp) {
  nbt::storeU32(header + kSectorSize + 4 * slot, timestamp);
}

inline int64_t sectorsFor(int64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

// A record's first five bytes.
inline void storeRecordHeader(uint8_t* p, uint32_t length, uint8_t compression) {
  nbt::storeU32(p, length);
  p[4] = compression;
}

}  // namespace anvil
