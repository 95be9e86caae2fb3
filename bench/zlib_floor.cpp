// The floors the tool's runs are measured against, using zlib alone.
//
//   zlib_floor inflate REGION        read the region and inflate every zlib record
//   zlib_floor rewrite REGION OUT    ... then deflate each at the default level and
//                                    write the records, laid out in sectors, to OUT
//
// Prints the total decompressed size in bytes.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

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
  unsigned char header[8192];
  if (std::fread(header, 1, sizeof header, f) != sizeof header) return 1;
  std::FILE* out = rewrite ? std::fopen(argv[3], "wb") : nullptr;
  unsigned char newHeader[8192] = {};
  std::memcpy(newHeader + 4096, header + 4096, 4096);
  if (out) std::fwrite(newHeader, 1, sizeof newHeader, out);
  long position = 8192;
  std::vector<unsigned char> compressed, inflated, recompressed;
  uint64_t total = 0;
  for (int n = 0; n < 1024; ++n) {
    long sector = (long{header[4 * n]} << 16) | (long{header[4 * n + 1]} << 8) | header[4 * n + 2];
    if (sector == 0) continue;
    unsigned char rec[5];
    if (fseek(f, sector * 4096, SEEK_SET) != 0 || std::fread(rec, 1, 5, f) != 5 || rec[4] != 2) continue;
    uint32_t length = (uint32_t{rec[0]} << 24) | (uint32_t{rec[1]} << 16) | (uint32_t{rec[2]} << 8) | rec[3];
    if (length < 1 || length > (1u << 30)) continue;
    compressed.resize(length - 1);
    if (std::fread(compressed.data(), 1, compressed.size(), f) != compressed.size()) continue;
    if (!inflateAll(compressed, inflated)) continue;
    total += inflated.size();
    if (!out) continue;
    deflateAll(inflated, recompressed);
    uint32_t m = static_cast<uint32_t>(recompressed.size());
    unsigned char head[5] = {static_cast<unsigned char>((m + 1) >> 24), static_cast<unsigned char>((m + 1) >> 16),
                             static_cast<unsigned char>((m + 1) >> 8), static_cast<unsigned char>(m + 1), 2};
    std::fwrite(head, 1, 5, out);
    std::fwrite(recompressed.data(), 1, m, out);
    long sectors = (m + 5 + 4095) / 4096;
    static const unsigned char zeros[4096] = {};
    std::fwrite(zeros, 1, static_cast<size_t>(sectors * 4096 - (m + 5)), out);
    newHeader[4 * n] = static_cast<unsigned char>(position / 4096 >> 16);
    newHeader[4 * n + 1] = static_cast<unsigned char>(position / 4096 >> 8);
    newHeader[4 * n + 2] = static_cast<unsigned char>(position / 4096);
    newHeader[4 * n + 3] = static_cast<unsigned char>(sectors);
    position += sectors * 4096;
  }
  std::fclose(f);
  if (out) {
    std::fseek(out, 0, SEEK_SET);
    std::fwrite(newHeader, 1, 4096, out);
    std::fclose(out);
  }
  std::printf("%llu\n", static_cast<unsigned long long>(total));
  return 0;
}
