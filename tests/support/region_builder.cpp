#include "support/region_builder.h"

#include <zlib.h>

#include "region/layout.h"

namespace testing_support {

ByteVec zlibCompress(const ByteVec& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  ByteVec out(size);
  compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level);
  out.resize(size);
  return out;
}

ByteVec zlibInflate(const ByteVec& data) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return {};
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  ByteVec out;
  uint8_t buf[65536];
  int r = Z_OK;
  while (r == Z_OK) {
    zs.next_out = buf;
    zs.avail_out = sizeof buf;
    r = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
  }
  inflateEnd(&zs);
  return r == Z_STREAM_END ? out : ByteVec{};
}

ByteVec rawRecord(uint32_t lengthField, uint8_t compression, const ByteVec& data) {
  return Bytes().u32(lengthField).u8(compression).raw(data).data();
}

ByteVec zlibRecord(const ByteVec& nbt) {
  ByteVec z = zlibCompress(nbt);
  return rawRecord(static_cast<uint32_t>(z.size() + 1), 2, z);
}

RegionBuilder& RegionBuilder::record(int x, int z, const ByteVec& bytes) {
  records_[x + region::kRegionSide * z] = bytes;
  return *this;
}
RegionBuilder& RegionBuilder::location(int x, int z, uint32_t sector, uint8_t count) {
  locations_[x + region::kRegionSide * z] = {sector, count};
  return *this;
}
RegionBuilder& RegionBuilder::timestamp(int x, int z, uint32_t value) {
  timestamps_[x + region::kRegionSide * z] = value;
  return *this;
}
RegionBuilder& RegionBuilder::tail(const ByteVec& bytes) {
  tail_ = bytes;
  return *this;
}

ByteVec RegionBuilder::build() const {
  using namespace region;
  ByteVec file(kHeaderSize, 0);
  for (const auto& [n, bytes] : records_) {
    const auto sector = static_cast<uint32_t>(file.size() / kSectorSize);
    storeLocation(file.data(), n, {sector, static_cast<uint8_t>(sectorsFor(static_cast<int64_t>(bytes.size())))});
    file.insert(file.end(), bytes.begin(), bytes.end());
    file.resize(static_cast<size_t>(sectorsFor(static_cast<int64_t>(file.size())) * kSectorSize), 0);
  }
  for (const auto& [n, entry] : locations_) storeLocation(file.data(), n, {entry.first, entry.second});
  for (const auto& [n, value] : timestamps_) storeTimestamp(file.data(), n, value);
  file.insert(file.end(), tail_.begin(), tail_.end());
  return file;
}

Bytes compoundList(const std::vector<Bytes>& elements) {
  Bytes b;
  b.u8(10).u32(static_cast<uint32_t>(elements.size()));
  for (const Bytes& e : elements) b.raw(e.data());
  return b;
}

Bytes item(const std::string& id) {
  Bytes b;
  b.named(1, "Slot").u8(0).stringEntry("id", id).named(1, "Count").u8(1).end();
  return b;
}

Bytes writtenBook(const std::string& title, const std::vector<std::string>& pages) {
  Bytes b;
  b.named(1, "Count").u8(1).stringEntry("id", "minecraft:written_book");
  b.compoundEntry("tag").stringEntry("author", "tester").stringEntry("title", title);
  b.listEntry("pages", 8, static_cast<uint32_t>(pages.size()));
  for (const std::string& page : pages) b.str(page);
  b.end().end();
  return b;
}

Bytes shulkerBox(const std::string& id, const std::vector<Bytes>& items) {
  Bytes b;
  b.stringEntry("id", id).compoundEntry("tag").compoundEntry("BlockEntityTag");
  b.named(9, "Items").raw(compoundList(items).data());
  b.end().end().end();
  return b;
}

Bytes container(const std::string& id, int x, int y, int z, const std::vector<Bytes>& items) {
  Bytes b;
  b.stringEntry("id", id).intEntry("x", x).intEntry("y", y).intEntry("z", z);
  b.named(9, "Items").raw(compoundList(items).data());
  b.end();
  return b;
}

Bytes itemFrame(int x, int y, int z, const Bytes& framedItem) {
  Bytes b;
  b.stringEntry("id", "minecraft:item_frame").intEntry("TileX", x).intEntry("TileY", y).intEntry("TileZ", z);
  b.compoundEntry("Item").raw(framedItem.data());
  b.end();
  return b;
}

ByteVec chunkWith(const std::vector<Bytes>& tileEntities, const std::vector<Bytes>& entities) {
  Bytes b;
  b.u8(10).str("").intEntry("DataVersion", 1343).compoundEntry("Level");
  b.intEntry("xPos", 0).intEntry("zPos", 0);
  b.named(9, "TileEntities").raw(compoundList(tileEntities).data());
  b.named(9, "Entities").raw(compoundList(entities).data());
  b.end().end();
  return b.data();
}

}  // namespace testing_support
