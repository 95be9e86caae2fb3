// Makes the regions the whole-run benchmarks use.
//
//   region_tool generate OUT [CHUNKS]   a full region of generated 1.16-style chunks
//                                       (about 50 KB of NBT each, 50 MB in all)
//   region_tool add-book IN OUT         IN with a plain-text book added to the first
//                                       container found, so that a run rewrites it
//   region_tool read-and-drop REGION    read, inflate and parse every chunk as a run
//                                       does, but drop each tree once it is read: a
//                                       run's cost without holding the region's trees
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "chunk_builder.h"
#include "nbt/byte_cursor.h"
#include "region/codec.h"
#include "nbt/reader.h"
#include "region/driver.h"
#include "region/region_writer.h"

using namespace nbt;

namespace {

std::unique_ptr<TAG_Compound> plainBook() {
  auto book = std::make_unique<TAG_Compound>();
  book->children.put("id", std::make_unique<TAG_String>("minecraft:written_book"));
  book->children.put("Count", std::make_unique<TAG_Byte>(int8_t{1}));
  auto tag = std::make_unique<TAG_Compound>();
  tag->children.put("title", std::make_unique<TAG_String>("Benchmark"));
  tag->children.put("author", std::make_unique<TAG_String>("bench"));
  auto pages = std::make_unique<TAG_List>();
  pages->elementType = kTagString;
  pages->elements.push_back(std::make_unique<TAG_String>("A plain page\nwith two lines"));
  tag->children.put("pages", std::move(pages));
  book->children.put("tag", std::move(tag));
  return book;
}

// Into the first container of the chunk; or, when `orChest`, into a new
// chest added to a chunk that has a block entity list but no container.
bool addBook(TAG* root, bool orChest) {
  if (!root || root->getType() != kTagCompound) return false;
  TAG_List* tiles = getList(getCompound(static_cast<TAG_Compound*>(root), "Level"), "TileEntities");
  if (!tiles) return false;
  for (int32_t i = 0; i < static_cast<int32_t>(tiles->elements.size()); ++i) {
    if (TAG_List* items = getList(getCompoundAt(tiles, i), "Items")) {
      items->elementType = kTagCompound;
      items->elements.push_back(plainBook());
      return true;
    }
  }
  if (!orChest) return false;
  auto chest = std::make_unique<TAG_Compound>();
  chest->children.put("id", std::make_unique<TAG_String>("minecraft:chest"));
  auto items = std::make_unique<TAG_List>();
  items->elementType = kTagCompound;
  items->elements.push_back(plainBook());
  chest->children.put("Items", std::move(items));
  tiles->elementType = kTagCompound;
  tiles->elements.push_back(std::move(chest));
  return true;
}

int generate(const char* out, int chunks) {
  auto tables = std::make_unique<region::RegionTables>();
  bench_support::ChunkShape shape;
  // Like real 1.16 regions: sections' block states and light dominate, and
  // only a few block entities per chunk hold items.
  shape.sections = 6;
  shape.containers = 3;
  for (int n = 0; n < chunks && n < region::kSlotCount; ++n) {
    int x = n % region::kRegionSide, z = n / region::kRegionSide;
    tables->rootTypes[x][z] = kTagCompound;
    tables->roots[x][z] = bench_support::buildChunk(x, z, shape);
    tables->timestamps[x][z] = 1600000000u + static_cast<uint32_t>(n);
  }
  return region::writeRegion(out, *tables, nullptr);
}

int addBookTo(const char* in, const char* out) {
  std::FILE* input = std::fopen(in, "rb");
  if (!input) return 1;
  std::fseek(input, 0, SEEK_END);
  long size = std::ftell(input);
  auto tables = std::make_unique<region::RegionTables>();
  region::loadRegion(input, size, *tables);
  bool added = false;
  for (bool orChest : {false, true}) {
    for (int n = 0; n < region::kSlotCount && !added; ++n) {
      added = addBook(tables->roots[n % region::kRegionSide][n / region::kRegionSide].get(), orChest);
    }
  }
  if (!added) {
    std::fprintf(stderr, "no container in %s\n", in);
    return 1;
  }
  int code = region::writeRegion(out, *tables, input);
  std::fclose(input);
  return code;
}

// Assumes a sound region (the benchmark's inputs): records are only checked
// enough not to read out of bounds.
int readAndDrop(const char* in) {
  std::FILE* input = std::fopen(in, "rb");
  unsigned char header[region::kHeaderSize];
  if (!input || std::fread(header, 1, sizeof header, input) != sizeof header) return 1;
  ByteBuffer compressed, inflated;
  size_t trees = 0;
  for (int n = 0; n < region::kSlotCount; ++n) {
    long sector = static_cast<long>(ByteCursor::loadU32(header + 4 * n) >> 8);
    unsigned char record[region::kRecordHeaderSize];
    if (sector == 0 || std::fseek(input, sector * region::kSectorSize, SEEK_SET) != 0 ||
        std::fread(record, 1, sizeof record, input) != sizeof record) {
      continue;
    }
    uint32_t length = ByteCursor::loadU32(record);
    if (length < 1 || length > (1u << 30)) continue;
    compressed.resize(length - 1);
    if (std::fread(compressed.data(), 1, compressed.size(), input) != compressed.size()) continue;
    if (region::inflateChunk(compressed, inflated) != region::Inflated::ok) continue;
    ByteCursor cursor(inflated.data(), inflated.size());
    uint8_t type;
    std::string name;
    if (!cursor.readU8(type) || !readString(cursor, name)) continue;
    if (readTag(type, cursor)) ++trees;
  }
  std::fclose(input);
  std::printf("%zu trees read and dropped\n", trees);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && !std::strcmp(argv[1], "generate")) return generate(argv[2], argc > 3 ? std::atoi(argv[3]) : 1024);
  if (argc >= 4 && !std::strcmp(argv[1], "add-book")) return addBookTo(argv[2], argv[3]);
  if (argc >= 3 && !std::strcmp(argv[1], "read-and-drop")) return readAndDrop(argv[2]);
  std::fprintf(stderr, "usage: %s generate OUT [CHUNKS] | add-book IN OUT | read-and-drop REGION\n", argv[0]);
  return 2;
}
