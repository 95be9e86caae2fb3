#include "support/real_regions.h"

#include "support/region_builder.h"

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
    std::vector<uint8_t> out = zlibInflate(std::vector<uint8_t>(h + 5, h + 4 + length));
    if (!out.empty()) chunks.push_back(std::move(out));
  }
  return chunks;
}

}  // namespace testing_support
