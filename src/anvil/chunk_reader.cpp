#include "anvil/chunk_reader.h"

#include <xxhash.h>

#include "anvil/chunk_root.h"

namespace anvil {

uint64_t recordDigest(const ByteBuffer& record) { return XXH3_64bits(record.data(), record.size()); }

ChunkReader::Decoded ChunkReader::decode(const RegionFile& file, int n) {
  Decoded result;
  slot_ = file.stateOf(n);
  result.record = file.readRecord(n, record_, slot_);
  if (!result.record) return result;
  const uint8_t* stored = record_.data() + kRecordHeaderSize;
  const size_t storedSize = record_.size() - kRecordHeaderSize;
  compression_ = record_[4];
  switch (compression_) {
    case kZlibCompression:
      result.codec = inflater_.inflate(stored, storedSize);
      break;
    case kGzipCompression:
      result.codec = inflater_.gunzip(stored, storedSize);
      break;
    case kLz4Compression:
      result.codec = inflater_.unpackLz4(stored, storedSize);
      break;
    default:  // uncompressed: the record holds the chunk
      if (storedSize > kMaxChunkBytes) result.codec.outcome = CodecStatus::tooLarge;
      break;
  }
  if (result.codec.outcome != CodecStatus::ok) return result;
  result.data = compression_ == kNoCompression ? stored : inflater_.data();
  result.size = compression_ == kNoCompression ? storedSize : inflater_.size();
  return result;
}

void ChunkReader::settle() {
  // A chunk that loaded without a fault is its record and nothing more: bytes
  // behind it in its sectors are not the chunk's, and a rewrite leaves them.
  // Of a chunk in its own file, the region holds a stub: carried as it is
  // stored, with the sectors it claims.
  if (!slot_.external) slot_.extent = static_cast<int64_t>(record_.size());
  const bool zlib = !slot_.external && compression_ == kZlibCompression;
  slot_.checksumMissing = static_cast<uint8_t>(zlib ? inflater_.checksumMissing() : 0);
  slot_.checksum = inflater_.checksum();
}

ChunkReader::Result ChunkReader::read(RegionFile& file, int n, nbt::IndexScope scope, bool anyRoot) {
  Result result;
  const Decoded decoded = decode(file, n);
  result.record = decoded.record;
  result.codec = decoded.codec;
  if (!decoded.data) {
    file.apply(n, slot_);
    return result;
  }
  result.root = readChunkRoot(decoded.data, decoded.size, tree_, result.level, result.hasTree, scope, anyRoot);
  if (!result.level) {
    file.apply(n, slot_);
    return result;
  }
  settle();
  file.apply(n, slot_);
  result.whole = true;
  return result;
}

}  // namespace anvil
