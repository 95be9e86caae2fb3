#include "region/chunk_loader.h"

#include "books/places.h"
#include "region/root_loading.h"

namespace region {

using books::Finding;

ChunkLoader::Result ChunkLoader::load(RegionFile& file, int n, books::Report& report, Use use) {
  Result result;
  const int x = slotX(n), z = slotZ(n);
  if (!file.readRecord(n, record_, report)) return result;
  const uint8_t* stored = record_.data() + kRecordHeaderSize;
  const size_t storedSize = record_.size() - kRecordHeaderSize;
  const uint8_t* chunk = stored;  // uncompressed: the record holds the chunk
  size_t chunkSize = storedSize;
  CodecStatus status;
  switch (record_[4]) {
    case kZlibCompression:
      status = inflater_.inflate(stored, storedSize);
      break;
    case kGzipCompression:
      status = inflater_.gunzip(stored, storedSize);
      break;
    case kLz4Compression:
      status = inflater_.unpackLz4(stored, storedSize);
      break;
    default:
      if (storedSize > kMaxChunkBytes) status.outcome = CodecStatus::tooLarge;
      break;
  }
  if (record_[4] != kNoCompression) {
    chunk = inflater_.data();
    chunkSize = inflater_.size();
  }
  switch (status.outcome) {
    case CodecStatus::ok:
      break;
    case CodecStatus::failed:
      report.add(Finding::error, codecLine(status));
      report.addf(Finding::error, "Error: Chunk %i,%i failed to decompress\n", x, z);
      return result;
    case CodecStatus::tooLarge:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i decompresses to more than %zu MiB, far beyond any chunk the game writes; it is "
                  "left as it is\n",
                  x, z, kMaxChunkBytes >> 20);
      return result;
    case CodecStatus::streamError:
      report.add(Finding::error, codecLine(status));
      result.fatal = true;
      return result;
    case CodecStatus::damaged:
      report.addf(Finding::error, "Error: Chunk %i,%i failed to decompress: %s\n", x, z, codecReason(status).c_str());
      return result;
  }
  nbt::Tag level;
  const nbt::IndexScope scope =
      use != Use::findBooks ? nullptr : everywhere_ ? books::walkedEverywhere : books::walkedByLevel;
  result.hasTree = loadChunkRoot(x, z, chunk, chunkSize, tree_, level, report, scope, everywhere_);
  if (!level) {
    // 1.18 (from its snapshot 21w43a, data version 2844) moved what "Level" held to the root.
    const nbt::Tag version = result.hasTree ? nbt::getNumber(tree_.root(), "DataVersion") : nbt::Tag();
    result.newerLayout = version && version.numberAsInt() >= 2844;
    return result;
  }
  // A chunk that loaded without a fault is its record and nothing more: bytes
  // behind it in its sectors are not the chunk's, and a rewrite leaves them.
  Slot& slot = file.slots[n];
  // Of a chunk in its own file, the region holds a stub: carried as it is
  // stored, with the sectors it claims.
  if (!slot.external) slot.extent = static_cast<int64_t>(record_.size());
  const bool zlib = !slot.external && record_[4] == kZlibCompression;
  slot.checksumMissing = static_cast<uint8_t>(zlib ? inflater_.checksumMissing() : 0);
  slot.checksum = inflater_.checksum();
  result.whole = true;
  if (use == Use::show) return result;
  books::Inspection inspection(report, tree_.root(), everywhere_);
  result.repaired = books::walkLevel(level, inspection);
  return result;
}

}  // namespace region
