#include "region/driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "console/console.h"
#include "region/codec.h"
#include "region/region_writer.h"
#include "region/root_loading.h"

namespace region {

// Trees left to the operating system stay reachable from here, so leak
// checkers see them as kept on purpose (external linkage keeps the store).
RegionTables* tablesLeftToTheSystem = nullptr;

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

uint32_t loadU32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

bool readAt(std::FILE* file, int64_t offset, void* into, size_t size) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 && std::fread(into, 1, size, file) == size;
}

// A buffer that once held a huge chunk is not kept at that size for the rest of the run.
void release(ByteBuffer& buffer) {
  buffer.clear();
  if (buffer.capacity() > (size_t{16} << 20)) buffer.shrink_to_fit();
}

// Reads, checks and inflates one slot's record; hands good chunks on.
void loadSlot(std::FILE* file, int64_t fileSize, int x, int z, uint8_t sectorCount, RegionTables& tables,
              bool walk, ByteBuffer& compressed, ByteBuffer& inflated) {
  const int64_t offset = tables.offsets[x][z];
  RawRecord& raw = tables.raw[x][z];
  raw.offset = offset;
  raw.sectorCount = sectorCount;
  if (offset >= fileSize) {
    printMessage("Error: Chunk %i,%i failed to read all data\n", x, z);
    return;
  }
  const int64_t available = fileSize - offset;
  const int64_t claimed = int64_t{sectorCount} * kSectorSize;
  // Until the record is known to be whole, keep what is there within its claim.
  raw.length = std::min(available, std::max(claimed, std::min(available, kRecordHeaderSize)));

  uint8_t header[kRecordHeaderSize];
  if (available < kRecordHeaderSize || !readAt(file, offset, header, sizeof header)) {
    printMessage("Error: Chunk %i,%i failed to read all data\n", x, z);
    return;
  }
  const int32_t length = static_cast<int32_t>(loadU32(header));
  const uint8_t compression = header[4];
  const bool lengthFits = length >= 1 && length - 1 <= available - kRecordHeaderSize;
  if (lengthFits) raw.length = std::min(available, std::max(claimed, int64_t{4} + length));

  if (compression != kZlibCompression) {
    printMessage("Error: Chunk %i,%i NBT is not compressed using Zlib (type=%i)\n", x, z, compression);
    return;
  }
  if (length < 1) {
    printMessage("Error: Chunk %i,%i has an invalid record length (%i)\n", x, z, length);
    return;
  }
  // Only now, with the bytes known to be in the file, is the length used as a size.
  if (!lengthFits) {
    printMessage("Error: Chunk %i,%i failed to read all data\n", x, z);
    return;
  }
  compressed.resize(static_cast<size_t>(length - 1));
  if (!compressed.empty() && std::fread(compressed.data(), 1, compressed.size(), file) != compressed.size()) {
    printMessage("Error: Chunk %i,%i failed to read all data\n", x, z);
    return;
  }
  switch (inflateChunk(compressed, inflated)) {
    case Inflated::ok:
      loadChunkRoot(x, z, inflated, tables, walk);
      return;
    case Inflated::failed:
      printMessage("Error: Chunk %i,%i failed to decompress\n", x, z);
      return;
    case Inflated::tooLarge:
      printMessage("Error: Chunk %i,%i decompresses to more than %zu MiB, far beyond any chunk the game writes; "
                   "it is left as it is\n",
                   x, z, kMaxChunkBytes >> 20);
      return;
  }
}

}  // namespace

void loadRegion(std::FILE* file, int64_t fileSize, RegionTables& tables, bool walk) {
  uint8_t header[kHeaderSize] = {};
  uint8_t sectorCounts[kRegionSide][kRegionSide] = {};
  if (fileSize > 0 && !readAt(file, 0, header, sizeof header)) {
    // The caller checked the size; a failed read here leaves every slot empty
    // rather than built from bytes that were never read.
    std::fill(std::begin(header), std::end(header), 0);
  }
  for (int n = 0; n < kSlotCount; ++n) {
    const int x = n % kRegionSide, z = n / kRegionSide;
    const uint8_t* entry = header + 4 * n;
    tables.offsets[x][z] = ((int64_t{entry[0]} << 16) | (int64_t{entry[1]} << 8) | entry[2]) * kSectorSize;
    sectorCounts[x][z] = entry[3];
    tables.timestamps[x][z] = loadU32(header + kSectorSize + 4 * n);
  }
  tables.repaired = false;

  ByteBuffer compressed, inflated;
  for (int z = 0; z < kRegionSide; ++z) {
    for (int x = 0; x < kRegionSide; ++x) {
      if (tables.offsets[x][z] == 0) continue;
      loadSlot(file, fileSize, x, z, sectorCounts[x][z], tables, walk, compressed, inflated);
      release(compressed);
      release(inflated);
    }
  }
}

int runPagemend(int argc, char** argv, TreeRelease release) {
  if (argc < 2) {
    printMessage("Syntax: %s <filename.mcr/mca>\n", argc > 0 ? argv[0] : "pagemend");
    return 1;
  }
  const char* path = argv[1];
  File input(std::fopen(path, "rb"));
  struct stat info;
  if (!input || fstat(fileno(input.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    printMessage("Error: unable to open file '%s'!\n", path);
    return 1;
  }
  const int64_t fileSize = info.st_size;
  if (fileSize > 0 && fileSize < kHeaderSize) {
    printMessage("Error: file '%s' is too short to be a region file (%lld bytes; its tables alone take %lld)!\n",
                 path, static_cast<long long>(fileSize), static_cast<long long>(kHeaderSize));
    return 1;
  }
  auto tables = std::make_unique<RegionTables>();
  loadRegion(input.get(), fileSize, *tables);
  int exitCode = 0;
  if (tables->repaired) {
    // The input stays open: chunks that are not rewritten from a tree are
    // copied from it into the new file.
    exitCode = writeRegion(path, *tables, input.get());
  } else {
    printMessage("No fixable problems found in '%s'.\n", path);
  }
  input.reset();
  if (release == TreeRelease::withProcess) {
    // Freeing a region's trees tag by tag takes about a fifth as long as
    // reading them; at the end of the process nothing needs them any more.
    tablesLeftToTheSystem = tables.release();
  }
  return exitCode;
}

}  // namespace region
