// The floors the tool's runs are measured against, using zlib alone.
//
//   zlib_floor inflate REGION        read the region and inflate every zlib record
//   zlib_floor rewrite REGION OUT    ... then deflate each at the default level and
//                                    write the records, laid out in sectors, to OUT
//
// Prints the total decompressed size in bytes, and the largest chunk's.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "anvil/layout.h"

using namespace anvil;

namespace {

unsigned char staging[1 << 20];

bool inflateAll(const std::vector<unsigned char>& in, std::vector<unsigned char>& out) {
  z_stream zs{};
  inflateInit(&zs);
  zs.next_in = const_cast<unsigned char*>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  out.clear();
  int r;
  do {
    if (out.capacity() - out.size() < sizeof staging) out.reserve(out.size() + sizeof staging);
    zs.next_out = staging;
    zs.avail_out = sizeof staging;
    r = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), staging, staging + (sizeof staging - zs.avail_out));
  } while (zs.avail_out == 0 && r == Z_OK);
  inflateEnd(&zs);
  return r == Z_STREAM_END;
}

void deflateAll(const std::vector<unsigned char>& in, std::vector<unsigned char>& out) {
  z_stream zs{};
  deflateInit(&zs, Z_DEFAULT_COMPRESSION);
  zs.next_in = const_cast<unsigned char*>(in.data());
  zs.avail_in = static_cast<uInt>(in.size());
  out.clear();
  do {
    if (out.capacity() - out.size() < sizeof staging) out.reserve(out.size() + sizeof staging);
    zs.next_out = staging;
    zs.avail_out = sizeof staging;
    deflate(&zs, Z_FINISH);
    out.insert(out.end(), staging, staging + (sizeof staging - zs.avail_out));
  } while (zs.avail_out == 0);
  deflateEnd(&zs);
}

}  // namespace

int main(int argc, char** argv) {
  const bool rewrite = argc >= 4 && !std::strcmp(argv[1], "rewrite");
  if (!(argc >= 3 && !std::strcmp(argv[1], "inflate")) && !rewrite) {
    std::fprintf(stderr, "usage: %s inflate REGION | rewrite REGION OUT\n", argv[0]);
    return 2;
  }
  std::FILE* f = std::fopen(argv[2], "rb");
  if (!f) return 1;
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, sizeof header, f) != sizeof header) return 1;
  std::FILE* out = rewrite ? std::fopen(argv[3], "wb") : nullptr;
  unsigned char newHeader[kHeaderSize] = {};
  std::memcpy(newHeader + kSectorSize, header + kSectorSize, kSectorSize);
  if (out) std::fwrite(newHeader, 1, sizeof newHeader, out);
  long position = kHeaderSize;
  std::vector<unsigned char> compressed, inflated, recompressed;
  uint64_t total = 0, largest = 0;
  for (int n = 0; n < kSlotCount; ++n) {
    const long sector = loadLocation(header, n).sector;
    if (sector == 0) continue;
    unsigned char rec[kRecordHeaderSize];
    if (fseek(f, sector * kSectorSize, SEEK_SET) != 0 || std::fread(rec, 1, sizeof rec, f) != sizeof rec ||
        rec[4] != kZlibCompression) {
      continue;
    }
    const uint32_t length = nbt::loadU32(rec);
    if (length < 1 || length > (1u << 30)) continue;
    compressed.resize(length - 1);
    if (std::fread(compressed.data(), 1, compressed.size(), f) != compressed.size()) continue;
    if (!inflateAll(compressed, inflated)) continue;
    total += inflated.size();
    largest = std::max<uint64_t>(largest, inflated.size());
    if (!out) continue;
    deflateAll(inflated, recompressed);
    const uint32_t m = static_cast<uint32_t>(recompressed.size());
    unsigned char head[kRecordHeaderSize];
    storeRecordHeader(head, m + 1, kZlibCompression);
    std::fwrite(head, 1, sizeof head, out);
    std::fwrite(recompressed.data(), 1, m, out);
    const long sectors = sectorsFor(m + kRecordHeaderSize);
    static const unsigned char zeros[kSectorSize] = {};
    std::fwrite(zeros, 1, static_cast<size_t>(sectors * kSectorSize - (m + kRecordHeaderSize)), out);
    storeLocation(newHeader, n, {static_cast<uint32_t>(position / kSectorSize), static_cast<uint8_t>(sectors)});
    position += sectors * kSectorSize;
  }
  std::fclose(f);
  if (out) {
    std::fseek(out, 0, SEEK_SET);
    std::fwrite(newHeader, 1, kSectorSize, out);
    std::fclose(out);
  }
  std::printf("%llu %llu\n", static_cast<unsigned long long>(total), static_cast<unsigned long long>(largest));
  return 0;
}
