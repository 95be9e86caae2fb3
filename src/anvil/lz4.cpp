#include <lz4.h>
#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "anvil/codec.h"

// LZ4 records: the block stream of Java's LZ4BlockOutputStream, as servers
// that choose LZ4 store chunks (from 1.20.5).

namespace anvil {

namespace {

// The block stream of Java's LZ4BlockOutputStream: each block a header
// ("LZ4Block", a token, the compressed and the original length and the
// checksum, little-endian), then its data; a block of lengths 0 ends it.
constexpr uint8_t kLz4Magic[8] = {'L', 'Z', '4', 'B', 'l', 'o', 'c', 'k'};
constexpr size_t kLz4HeaderSize = 8 + 1 + 4 + 4 + 4;
constexpr uint8_t kLz4Raw = 0x10, kLz4Compressed = 0x20;  // the token's high half
constexpr uint32_t kLz4Seed = 0x9747B28C;                 // of the checksum: xxHash32, its top 4 bits dropped
constexpr uint32_t kLz4ChecksumMask = 0x0FFFFFFF;
constexpr int kLz4BlockLevel = 6;  // blocks of 2^(10 + 6) = 64 KiB, as the game writes them

uint32_t loadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void appendLe32(ByteBuffer& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t lz4Checksum(const uint8_t* data, size_t size) {
  return static_cast<uint32_t>(XXH32(data, size, kLz4Seed)) & kLz4ChecksumMask;
}

CodecStatus damaged(CodecStatus::Damage what, int block) {
  CodecStatus status{CodecStatus::damaged, "LZ4", block};
  status.damage = what;
  return status;
}

}  // namespace

CodecStatus Inflater::unpackLz4(const uint8_t* data, size_t size) {
  size_ = 0;
  checksumMissing_ = 0;
  size_t at = 0;
  for (int block = 0;; ++block) {
    if (at == size) return {};  // no end mark: see the header
    if (size - at < kLz4HeaderSize) return damaged(CodecStatus::endsInBlock, block);
    const uint8_t* header = data + at;
    const int method = header[8] & 0xF0;
    const int level = 10 + (header[8] & 0x0F);
    const uint32_t compressed = loadLe32(header + 9), original = loadLe32(header + 13), check = loadLe32(header + 17);
    if (std::memcmp(header, kLz4Magic, sizeof kLz4Magic) != 0) {
      return damaged(CodecStatus::noMagic, block);
    }
    // The checks Java's reader makes; a length above 2^31 is negative to it.
    if ((method != kLz4Raw && method != kLz4Compressed) || original > (uint32_t{1} << level) ||
        compressed > 0x7FFFFFFFu || (original == 0) != (compressed == 0) ||
        (method == kLz4Raw && original != compressed) || (original == 0 && check != 0)) {
      return damaged(CodecStatus::badHeader, block);
    }
    at += kLz4HeaderSize;
    if (original == 0) return {};  // the end mark
    if (size - at < compressed) return damaged(CodecStatus::endsInBlock, block);
    if (size_ + original > limit_) return {CodecStatus::tooLarge, "LZ4", 0};
    reserve(size_ + original);
    uint8_t* into = buffer_ + size_;
    if (method == kLz4Raw) {
      std::memcpy(into, data + at, original);
    } else if (LZ4_decompress_safe(reinterpret_cast<const char*>(data + at), reinterpret_cast<char*>(into),
                                   static_cast<int>(compressed), static_cast<int>(original)) !=
               static_cast<int>(original)) {
      return damaged(CodecStatus::damagedBlock, block);
    }
    if (lz4Checksum(into, original) != check) return damaged(CodecStatus::badChecksum, block);
    size_ += original;
    at += compressed;
  }
}

void lz4Pack(const uint8_t* data, size_t size, ByteBuffer& output) {
  constexpr size_t kBlock = size_t{1} << (10 + kLz4BlockLevel);
  std::vector<char> packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(kBlock))));
  auto header = [&](int method, uint32_t compressed, uint32_t original, uint32_t check) {
    output.insert(output.end(), kLz4Magic, kLz4Magic + sizeof kLz4Magic);
    output.push_back(static_cast<uint8_t>(method | kLz4BlockLevel));
    appendLe32(output, compressed);
    appendLe32(output, original);
    appendLe32(output, check);
  };
  for (size_t at = 0; at < size; at += kBlock) {
    const size_t n = std::min(kBlock, size - at);
    const int made = LZ4_compress_default(reinterpret_cast<const char*>(data + at), packed.data(), static_cast<int>(n),
                                          static_cast<int>(packed.size()));
    // As Java's writer: a block that does not shrink is stored as it is.
    const bool raw = made <= 0 || static_cast<size_t>(made) >= n;
    header(raw ? kLz4Raw : kLz4Compressed, static_cast<uint32_t>(raw ? n : static_cast<size_t>(made)),
           static_cast<uint32_t>(n), lz4Checksum(data + at, n));
    if (raw) {
      output.insert(output.end(), data + at, data + at + n);
    } else {
      output.insert(output.end(), packed.data(), packed.data() + made);
    }
  }
  header(kLz4Raw, 0, 0, 0);
}

}  // namespace anvil
