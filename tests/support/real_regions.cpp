#include "support/real_regions.h"

#include "region/layout.h"
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
  using namespace region;
  std::vector<std::vector<uint8_t>> chunks;
  if (file.size() < kHeaderSize) return chunks;
  for (int n = 0; n < kSlotCount; ++n) {
    const size_t offset = size_t{loadLocation(file.data(), n).sector} * kSectorSize;
    if (offset == 0 || offset + kRecordHeaderSize > file.size()) continue;
    const uint8_t* h = &file[offset];
    const size_t length = nbt::loadU32(h);
    if (h[4] != kZlibCompression || length < 1 || offset + 4 + length > file.size()) continue;
    std::vector<uint8_t> out = zlibInflate(std::vector<uint8_t>(h + 5, h + 4 + length));
    if (!out.empty()) chunks.push_back(std::move(out));
  }
  return chunks;
}

}  // namespace testing_support
