#pragma once

// Builds region files and chunk contents for end-to-end tests: well-formed
// ones, and deliberately broken ones (bad lengths, cut-off streams, wrong
// compression types, pointers past the end of the file).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/bytes.h"

namespace testing_support {

using ByteVec = std::vector<uint8_t>;

ByteVec zlibCompress(const ByteVec& data, int level = 6);
ByteVec zlibInflate(const ByteVec& data);  // empty on any failure

// A record as the game stores it: length m + 1, type 2, then the zlib stream.
ByteVec zlibRecord(const ByteVec& nbt);
// A record with a given length field and compression type around `data`.
ByteVec rawRecord(uint32_t lengthField, uint8_t compression, const ByteVec& data);

class RegionBuilder {
 public:
  // Stores a chunk's decompressed bytes as a zlib record in slot (x, z).
  RegionBuilder& chunk(int x, int z, const ByteVec& nbt) { return record(x, z, zlibRecord(nbt)); }
  // Stores record bytes as given, on fresh sectors, with a matching location entry.
  RegionBuilder& record(int x, int z, const ByteVec& bytes);
  // Overrides a location entry (sector number, sector count) after layout.
  RegionBuilder& location(int x, int z, uint32_t sector, uint8_t count);
  RegionBuilder& timestamp(int x, int z, uint32_t value);
  // Bytes appended after the last record, e.g. a partial record header.
  RegionBuilder& tail(const ByteVec& bytes);
  ByteVec build() const;

 private:
  std::map<int, ByteVec> records_;
  std::map<int, std::pair<uint32_t, uint8_t>> locations_;
  std::map<int, uint32_t> timestamps_;
  ByteVec tail_;
};

// Chunk contents. Each returns a compound payload (entries and the closing 0)
// unless it says otherwise.
Bytes writtenBook(const std::string& title, const std::vector<std::string>& pages);
Bytes item(const std::string& id);
Bytes shulkerBox(const std::string& id, const std::vector<Bytes>& items);
Bytes container(const std::string& id, int x, int y, int z, const std::vector<Bytes>& items);
Bytes itemFrame(int x, int y, int z, const Bytes& framedItem);
// A whole chunk: the unnamed root compound holding "Level" with these lists.
ByteVec chunkWith(const std::vector<Bytes>& tileEntities, const std::vector<Bytes>& entities = {});
// A list payload of compounds (element type 10), from compound payloads.
Bytes compoundList(const std::vector<Bytes>& elements);

}  // namespace testing_support
