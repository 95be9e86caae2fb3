#include "support/real_regions.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testing_support {

std::string realRegionsDir() {
  if (const char* env = std::getenv("PAGEMEND_REAL_REGIONS")) return env;
  std::filesystem::path dir = std::filesystem::path(PAGEMEND_SOURCE_DIR) / ".." / "shared" / "regions";
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return "";
  return std::filesystem::canonical(dir).string();
}

std::vector<std::vector<uint8_t>> inflatedChunks(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::vector<uint8_t>> chunks;
  if (file.size() < 8192) return chunks;
  for (size_t n = 0; n < 1024; ++n) {
    size_t offset = ((size_t{file[4 * n]} << 16) | (size_t{file[4 * n + 1]} << 8) | file[4 * n + 2]) * 4096;
    if (offset == 0 || offset + 5 > file.size()) continue;
    const uint8_t* h = &file[offset];
    size_t length = (size_t{h[0]} << 24) | (size_t{h[1]} << 16) | (size_t{h[2]} << 8) | h[3];
    if (h[4] != 2 || length < 1 || offset + 4 + length > file.size()) continue;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) continue;
    zs.next_in = const_cast<Bytef*>(h + 5);
    zs.avail_in = static_cast<uInt>(length - 1);
    std::vector<uint8_t> out;
    int r = Z_OK;
    uint8_t buf[65536];
    while (r == Z_OK) {
      zs.next_out = buf;
      zs.avail_out = sizeof buf;
      r = inflate(&zs, Z_NO_FLUSH);
      out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
    }
    inflateEnd(&zs);
    if (r == Z_STREAM_END) chunks.push_back(std::move(out));
  }
  return chunks;
}

}  // namespace testing_support
