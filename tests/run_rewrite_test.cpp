// Rewriting a region after a repair, through the real binary: the layout of
// the new file, and that every chunk of the input is still in it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "support/real_regions.h"
#include "support/region_view.h"
#include "support/run.h"
#include "support/trees.h"

using namespace testing_support;
using namespace nbt;

namespace {

const Bytes kChestWithPlainBook = container("minecraft:chest", 1, 2, 3, {writtenBook("T", {"plain text"})});
const std::string kRepairLine = "Book 'T' in minecraft:chest at 1,2,3 page 0 repaired\n";

TagPtr treeOf(const ByteVec& chunk) {
  if (chunk.size() < 3) return nullptr;
  ByteCursor cursor(chunk.data(), chunk.size());
  uint8_t type;
  std::string name;
  if (!cursor.readU8(type) || !readString(cursor, name)) return nullptr;
  return readTag(type, cursor);
}

ByteVec canonical(const ByteVec& chunk) {
  TagPtr tree = treeOf(chunk);
  ByteVec out;
  writeNamedTag(chunk[0], "", *tree, out);
  return out;
}

ByteVec incompressible(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  ByteVec bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// A chunk whose Level holds a byte array of random bytes (sorted names, so
// its bytes are what the writer will produce).
ByteVec chunkWithNoise(size_t n, unsigned seed) {
  Bytes b;
  b.u8(10).str("").compoundEntry("Level").named(7, "Noise").u32(static_cast<uint32_t>(n)).raw(incompressible(n, seed));
  b.listEntry("TileEntities", 10, 0).end().end();
  return b.data();
}

TEST(Rewrite, LaysRecordsOutAfreshInSlotOrder) {
  RegionBuilder region;
  region.chunk(1, 1, chunkWith({}, {itemFrame(0, 0, 0, item("minecraft:map"))}));
  region.chunk(5, 0, chunkWith({kChestWithPlainBook}));
  region.chunk(0, 0, chunkWithNoise(6000, 1));  // needs two sectors
  region.chunk(31, 31, chunkWith({}));
  region.timestamp(0, 0, 111).timestamp(5, 0, 222).timestamp(1, 1, 0xFFFFFFFF).timestamp(7, 7, 444);
  // Move one record behind a gap of stray bytes: the rewrite keeps neither.
  ByteVec moved = recordAt(region.build(), 31, 31);
  ByteVec input = region.location(31, 31, 40, 1).build();
  input.resize(41 * 4096, 0xAB);
  std::copy(moved.begin(), moved.end(), input.begin() + 40 * 4096);
  RegionRun r = runOnRegion(input);
  EXPECT_EQ(r.output, kRepairLine);
  ASSERT_EQ(r.exitCode, 0);

  const ByteVec& out = r.after;
  uint32_t expectedSector = 2;
  for (int z = 0; z < 32; ++z) {
    for (int x = 0; x < 32; ++x) {
      SlotEntry before = slotEntry(input, x, z), after = slotEntry(out, x, z);
      EXPECT_EQ(after.timestamp, before.timestamp);
      if (before.sector == 0) {
        EXPECT_EQ(after.sector, 0u);
        EXPECT_EQ(after.count, 0u);
        continue;
      }
      SCOPED_TRACE("slot " + std::to_string(x) + "," + std::to_string(z));
      ASSERT_EQ(after.sector, expectedSector);
      ByteVec record = recordAt(out, x, z);
      ASSERT_GE(record.size(), 5u);
      EXPECT_EQ(record[4], 2);
      const size_t m = record.size() - 5;
      EXPECT_EQ(after.count, (m + 5 + 4095) / 4096);
      // Zero padding up to the sector boundary.
      size_t end = size_t{after.sector} * 4096 + record.size();
      for (size_t i = end; i < (size_t{after.sector} + after.count) * 4096; ++i) ASSERT_EQ(out[i], 0) << i;
      expectedSector += after.count;
    }
  }
  EXPECT_EQ(out.size(), size_t{expectedSector} * 4096);
  EXPECT_EQ(slotEntry(out, 0, 0).count, 2);
  // The repaired chunk holds its page as a JSON string; the others are unchanged trees.
  TagPtr repaired = treeOf(chunkAt(out, 5, 0));
  auto* chest = getCompoundAt(getList(getCompound(static_cast<TAG_Compound*>(repaired.get()), "Level"), "TileEntities"), 0);
  auto* book = getCompoundAt(getList(chest, "Items"), 0);
  auto* pages = getList(getCompound(book, "tag"), "pages");
  EXPECT_EQ(static_cast<TAG_String*>(pages->elements[0].get())->value, "\"plain text\"");
  for (auto [x, z] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{31, 31}}) {
    EXPECT_TRUE(treesEqual(treeOf(chunkAt(out, x, z)).get(), treeOf(chunkAt(input, x, z)).get()));
  }
}

TEST(Rewrite, ARecordOfExactlyOneSectorHasNoPadding) {
  // Random bytes barely compress, so some length gives m + 5 = 4096 exactly.
  auto compressedSize = [](size_t n) { return zlibCompress(chunkWithNoise(n, 5)).size(); };
  size_t exact = 0, oneMore = 0;
  for (size_t n = 3900; n < 4100 && (!exact || !oneMore); ++n) {
    if (compressedSize(n) + 5 == 4096) exact = n;
    if (compressedSize(n) + 5 == 4097) oneMore = n;
  }
  ASSERT_TRUE(exact && oneMore);
  RegionRun r = runOnRegion(RegionBuilder()
                                .chunk(0, 0, chunkWithNoise(exact, 5))
                                .chunk(1, 0, chunkWithNoise(oneMore, 5))
                                .chunk(2, 0, chunkWith({kChestWithPlainBook}))
                                .build());
  ASSERT_EQ(r.output, kRepairLine);
  EXPECT_EQ(slotEntry(r.after, 0, 0).sector, 2u);
  EXPECT_EQ(slotEntry(r.after, 0, 0).count, 1u);
  EXPECT_EQ(slotEntry(r.after, 1, 0).sector, 3u);  // right behind, no padding in between
  EXPECT_EQ(slotEntry(r.after, 1, 0).count, 2u);
  EXPECT_EQ(slotEntry(r.after, 2, 0).sector, 5u);
  for (size_t i = 4 * 4096 + 1; i < 5 * 4096; ++i) ASSERT_EQ(r.after[i], 0) << i;  // 4095 bytes of padding
}

TEST(Rewrite, WritesCompoundsSortedOnceAndFloatsBitForBit) {
  Bytes messy;
  messy.u8(10).str("").compoundEntry("Level");
  messy.named(5, "sNaN").u32(0x7F800001).named(6, "negZero").u64(0x8000000000000000ull);
  messy.intEntry("x", 1).intEntry("Items", 2).intEntry("x", 3).listEntry("TileEntities", 10, 0).end();
  messy.intEntry("DataVersion", 1).end();
  Bytes sorted;
  sorted.u8(10).str("").intEntry("DataVersion", 1).compoundEntry("Level").intEntry("Items", 2);
  sorted.listEntry("TileEntities", 10, 0).named(6, "negZero").u64(0x8000000000000000ull).named(5, "sNaN").u32(0x7F800001);
  sorted.intEntry("x", 3).end().end();
  RegionRun r = runOnRegion(RegionBuilder().chunk(0, 0, messy).chunk(1, 0, chunkWith({kChestWithPlainBook})).build());
  ASSERT_EQ(r.output, kRepairLine);
  EXPECT_EQ(chunkAt(r.after, 0, 0), sorted.data());
  // Compressed afresh at the default level.
  EXPECT_EQ(recordAt(r.after, 0, 0), zlibRecord(sorted));
}

TEST(Rewrite, EveryChunkThatWasNotLoadedIsCopiedAsItWas) {
  ByteVec good = zlibCompress(chunkWith({}));
  auto sized = [](const ByteVec& data, uint8_t type) {
    return rawRecord(static_cast<uint32_t>(data.size() + 1), type, data);
  };
  ByteVec noChecksum(good.begin(), good.end() - 1);
  RegionBuilder region;
  region.record(0, 0, sized(good, 1));                                            // gzip type
  region.record(1, 0, sized(good, 3));                                            // uncompressed type
  region.record(2, 0, sized(ByteVec{0x1F, 0x8B, 8, 0, 0}, 2));                    // not zlib
  region.record(3, 0, sized(noChecksum, 2));                                      // stream cut short
  region.chunk(4, 0, {});                                                         // no root
  region.chunk(5, 0, Bytes().u8(10).str("name").end().data());                   // named root
  region.chunk(6, 0, Bytes().u8(10).str("").u8(13).end().data());                // unreadable tree
  region.chunk(7, 0, Bytes().u8(9).str("").u8(3).u32(1).u32(5).data());          // list root: kept as a tree
  region.chunk(8, 0, Bytes().u8(10).str("").intEntry("Level", 1).end().data());  // no Level: kept as a tree
  region.record(9, 0, rawRecord(0, 2, good));                                     // length 0
  region.chunk(10, 0, chunkWith({kChestWithPlainBook}));
  region.location(11, 0, 4000, 1);  // points past the end: nothing stored
  // A trailing byte that the one-byte-short length leaves out survives too.
  ByteVec input = region.build();
  size_t shortAt = size_t{slotEntry(input, 3, 0).sector} * 4096 + 5 + noChecksum.size();
  input[shortAt] = good.back();

  RegionRun r = runOnRegion(input);
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find(kRepairLine), std::string::npos);
  for (int x : {0, 1, 2, 3, 4, 5, 6, 9}) {
    SCOPED_TRACE("slot " + std::to_string(x));
    SlotEntry before = slotEntry(input, x, 0), after = slotEntry(r.after, x, 0);
    ASSERT_NE(after.sector, 0u);
    EXPECT_EQ(after.count, before.count);
    // The whole sector span, trailing bytes included, is as it was.
    auto span = [](const ByteVec& f, SlotEntry e) {
      return ByteVec(f.begin() + e.sector * 4096l, f.begin() + (e.sector + e.count) * 4096l);
    };
    EXPECT_EQ(span(r.after, after), span(input, before));
  }
  for (int x : {7, 8}) EXPECT_EQ(chunkAt(r.after, x, 0), chunkAt(input, x, 0));
  EXPECT_EQ(slotEntry(r.after, 11, 0).sector, 0u);
  // The rewritten file loads the same way again, and has nothing left to repair.
  RegionRun again = runOnRegion(r.after);
  EXPECT_EQ(again.output.find("repaired"), std::string::npos);
  EXPECT_NE(again.output.find("No fixable problems found in 'REGION'."), std::string::npos);
  EXPECT_EQ(again.after, r.after);
}

TEST(Rewrite, SharedRecordsBecomeSeparateRecords) {
  RegionBuilder region;
  region.chunk(0, 0, chunkWith({kChestWithPlainBook}));
  region.chunk(1, 0, chunkWith({}));
  ByteVec input = region.location(2, 0, slotEntry(region.build(), 1, 0).sector, 1).build();
  RegionRun r = runOnRegion(input);
  ASSERT_EQ(r.output, kRepairLine);
  EXPECT_NE(slotEntry(r.after, 1, 0).sector, slotEntry(r.after, 2, 0).sector);
  EXPECT_EQ(chunkAt(r.after, 1, 0), chunkAt(r.after, 2, 0));
  EXPECT_EQ(chunkAt(r.after, 2, 0), canonical(chunkAt(input, 1, 0)));
}

TEST(Rewrite, ChunkTooLargeForALocationEntryIsKeptAsStored) {
  ByteVec huge = chunkWithNoise(1200000, 7);
  ByteVec compressed = zlibCompress(huge);
  size_t sectors = (compressed.size() + 5 + 4095) / 4096;
  ASSERT_GT(sectors, 255u);
  RegionRun r = runOnRegion(RegionBuilder().chunk(0, 0, chunkWith({kChestWithPlainBook})).chunk(1, 0, huge).build());
  EXPECT_EQ(r.output, kRepairLine + "Warning: Chunk 1,0 would need " + std::to_string(sectors) +
                          " sectors, more than a location entry can describe; it is kept exactly as it was stored\n");
  EXPECT_EQ(slotEntry(r.after, 1, 0).count, static_cast<uint8_t>(sectors));  // the input's own count byte
  EXPECT_EQ(recordAt(r.after, 1, 0), recordAt(r.before, 1, 0));
}

TEST(Rewrite, SecondRunRepairsNothing) {
  RegionRun first = runOnRegion(RegionBuilder().chunk(3, 4, chunkWith({kChestWithPlainBook})).build());
  ASSERT_EQ(first.output, kRepairLine);
  RegionRun second = runOnRegion(first.after);
  EXPECT_EQ(second.output, "No fixable problems found in 'REGION'.\n");
  EXPECT_EQ(second.after, first.after);
}

TEST(RewriteFiles, KeepsLinksPermissionsAndRemovesDeadRunsLeftovers) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.file("world"));
  std::string target = dir.file("world/r.0.0.mca");
  writeFile(target, RegionBuilder().chunk(0, 0, chunkWith({kChestWithPlainBook})).build());
  chmod(target.c_str(), 0640);
  std::string leftover = dir.file("world/.r.0.0.mca.pagemend-999999999.tmp");
  std::string unrelated = dir.file("world/.other.mca.pagemend-999999999.tmp");
  writeFile(leftover, {1, 2, 3});
  writeFile(unrelated, {1, 2, 3});
  std::string link = dir.file("link.mca");
  std::filesystem::create_symlink(target, link);

  RunResult r = runPagemend({link});
  EXPECT_EQ(r.output, kRepairLine);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(runPagemend({target}).output, "No fixable problems found in '" + target + "'.\n");
  EXPECT_FALSE(std::filesystem::exists(leftover));
  EXPECT_TRUE(std::filesystem::exists(unrelated));
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir.file("world"))) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".other.mca.pagemend-999999999.tmp", "r.0.0.mca"}));
}

TEST(RewriteFiles, UnwritableFolderLeavesTheOriginalUntouched) {
  ScratchDir dir;
  std::string folder = dir.file("locked");
  std::filesystem::create_directory(folder);
  std::string path = folder + "/r.0.0.mca";
  ByteVec input = RegionBuilder().chunk(0, 0, chunkWith({kChestWithPlainBook})).build();
  writeFile(path, input);
  chmod(path.c_str(), 0644);
  chmod(folder.c_str(), 0555);
  chmod(dir.path().c_str(), 0755);
  // Root writes anywhere; run as an unprivileged user to see the refusal.
  std::string command = testing_support::quoted(PAGEMEND_BINARY) + " " + testing_support::quoted(path);
  if (geteuid() == 0) command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + command;
  RunResult r = runCommand(command);
  EXPECT_EQ(r.output, kRepairLine + "Error: unable to open file '" + path + "' for output!\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(readFile(path), input);
  chmod(folder.c_str(), 0755);
}

// A chest in a real chunk gets a plain-text book; after the run every other
// chunk decodes to the tree it was.
TEST(RewriteReal, OnlyTheBookChangesInARealRegion) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  ByteVec input = readFile(dir + "/anvil116.r.0.0.mca");
  int bookX = -1, bookZ = -1;
  TagPtr bookTree;
  for (int n = 0; n < 1024 && bookX < 0; ++n) {
    TagPtr tree = treeOf(chunkAt(input, n % 32, n / 32));
    auto* level = getCompound(static_cast<TAG_Compound*>(tree.get()), "Level");
    auto* tiles = getList(level, "TileEntities");
    for (int32_t i = 0; tiles && i < static_cast<int32_t>(tiles->elements.size()); ++i) {
      TAG_List* items = getList(getCompoundAt(tiles, i), "Items");
      if (!items) continue;
      items->elementType = kTagCompound;
      items->elements.push_back(readAll(kTagCompound, writtenBook("Real", {"Once upon a time", "{\"text\":\"ok\"}"})));
      bookX = n % 32, bookZ = n / 32;
      bookTree = std::move(tree);
      break;
    }
  }
  ASSERT_GE(bookX, 0) << "no container found";
  ByteVec chunk;
  ASSERT_TRUE(writeNamedTag(kTagCompound, "", *bookTree, chunk));
  ByteVec record = zlibRecord(chunk);
  uint32_t sector = static_cast<uint32_t>(input.size() / 4096);
  input.insert(input.end(), record.begin(), record.end());
  input.resize((input.size() + 4095) / 4096 * 4096, 0);
  size_t n = static_cast<size_t>(bookX + 32 * bookZ);
  input[4 * n] = static_cast<uint8_t>(sector >> 16), input[4 * n + 1] = static_cast<uint8_t>(sector >> 8);
  input[4 * n + 2] = static_cast<uint8_t>(sector), input[4 * n + 3] = static_cast<uint8_t>((record.size() + 4095) / 4096);

  RegionRun r = runOnRegion(input);
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("Book 'Real' in "), std::string::npos);
  EXPECT_NE(r.output.find(" page 0 repaired\n"), std::string::npos);
  int compared = 0;
  for (int z = 0; z < 32; ++z) {
    for (int x = 0; x < 32; ++x) {
      SCOPED_TRACE("slot " + std::to_string(x) + "," + std::to_string(z));
      TagPtr before = treeOf(chunkAt(input, x, z)), after = treeOf(chunkAt(r.after, x, z));
      ASSERT_EQ(before == nullptr, after == nullptr);
      if (!before) continue;
      if (x == bookX && z == bookZ) {
        EXPECT_FALSE(treesEqual(before.get(), after.get()));
        continue;
      }
      EXPECT_TRUE(treesEqual(before.get(), after.get()));
      ++compared;
    }
  }
  EXPECT_GT(compared, 200);
}

}  // namespace
