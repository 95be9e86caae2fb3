// The floor a no-repair run is measured against: read a region file and
// inflate every zlib record, nothing else. Prints the total decompressed size.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s REGION\n", argv[0]);
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 1;
  unsigned char header[4096];
  if (std::fread(header, 1, sizeof header, f) != sizeof header) return 1;
  static unsigned char staging[1 << 20];
  std::vector<unsigned char> compressed, output;
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
    z_stream zs{};
    inflateInit(&zs);
    zs.next_in = compressed.data();
    zs.avail_in = static_cast<uInt>(compressed.size());
    output.clear();
    int r;
    do {
      if (output.capacity() - output.size() < sizeof staging) output.reserve(output.size() + sizeof staging);
      zs.next_out = staging;
      zs.avail_out = sizeof staging;
      r = inflate(&zs, Z_NO_FLUSH);
      output.insert(output.end(), staging, staging + (sizeof staging - zs.avail_out));
    } while (zs.avail_out == 0 && r == Z_OK);
    inflateEnd(&zs);
    if (r == Z_STREAM_END) total += output.size();
  }
  std::fclose(f);
  std::printf("%llu\n", static_cast<unsigned long long>(total));
  return 0;
}
