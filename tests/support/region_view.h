#pragma once

// Reads back what a region file holds, slot by slot, for checking rewrites.

#include <cstdint>

#include "support/region_builder.h"

namespace testing_support {

struct SlotEntry {
  uint32_t sector = 0;
  uint8_t count = 0;
  uint32_t timestamp = 0;
};

SlotEntry slotEntry(const ByteVec& file, int x, int z);
// The record a slot points at, as its length field describes it (4 + L
// bytes), or empty when the slot is empty or the record does not fit.
ByteVec recordAt(const ByteVec& file, int x, int z);
// The decompressed bytes of a slot's zlib record; empty when there are none.
ByteVec chunkAt(const ByteVec& file, int x, int z);
// A chunk's bytes as the tag writer writes them (compounds sorted, repeated
// names once); empty when they are not a tree.
ByteVec canonical(const ByteVec& chunk);

}  // namespace testing_support
