// Rewriting a region after a repair, through the real binary: the layout of
// the new file, and that every chunk of the input is still in it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "nbt/tree.h"
#include "nbt/writer.h"
#include "region/region_writer.h"
#include "support/real_regions.h"
#include "support/region_view.h"
#include "support/run.h"

using namespace testing_support;
using namespace nbt;

namespace {

const Bytes kChestWithPlainBook = container("minecraft:chest", 1, 2, 3, {writtenBook("T", {"plain text"})});
const std::string kRepairLine = "Book 'T' in minecraft:chest at 1,2,3 page 0 repaired\n";

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
  // The repaired chunk holds its page as a JSON string; the others keep their stored records.
  EXPECT_EQ(chunkAt(out, 5, 0),
            canonical(chunkWith({container("minecraft:chest", 1, 2, 3, {writtenBook("T", {"\"plain text\""})})})));
  for (auto [x, z] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{31, 31}}) EXPECT_EQ(recordAt(out, x, z), recordAt(input, x, z));
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

TEST(Rewrite, WritesARepairedChunkSortedOnceAndFloatsBitForBit) {
  Bytes messy;
  messy.u8(10).str("").compoundEntry("Level");
  messy.named(5, "sNaN").u32(0x7F800001).named(6, "negZero").u64(0x8000000000000000ull);
  messy.intEntry("x", 1).intEntry("Items", 2).intEntry("x", 3).named(9, "TileEntities").raw(compoundList({kChestWithPlainBook}).data()).end();
  messy.intEntry("DataVersion", 1).end();
  const Bytes repairedChest = container("minecraft:chest", 1, 2, 3, {writtenBook("T", {"\"plain text\""})});
  Bytes sorted;
  sorted.u8(10).str("").intEntry("DataVersion", 1).compoundEntry("Level").intEntry("Items", 2);
  // Inside the chest too: Items, id, x, y, z; and in the book: Count, id, tag (author, pages, title).
  Bytes chest;
  chest.named(9, "Items").u8(10).u32(1).named(1, "Count").u8(1).stringEntry("id", "minecraft:written_book");
  chest.compoundEntry("tag").stringEntry("author", "tester").listEntry("pages", 8, 1).str("\"plain text\"");
  chest.stringEntry("title", "T").end().end();
  chest.stringEntry("id", "minecraft:chest").intEntry("x", 1).intEntry("y", 2).intEntry("z", 3).end();
  sorted.named(9, "TileEntities").raw(compoundList({chest}).data());
  sorted.named(6, "negZero").u64(0x8000000000000000ull).named(5, "sNaN").u32(0x7F800001);
  sorted.intEntry("x", 3).end().end();
  const ByteVec quiet = chunkWith({});
  RegionRun r = runOnRegion(RegionBuilder().chunk(0, 0, messy).chunk(1, 0, quiet).build());
  ASSERT_EQ(r.output, kRepairLine);
  EXPECT_EQ(chunkAt(r.after, 0, 0), sorted.data());
  // Compressed afresh at the default level.
  EXPECT_EQ(recordAt(r.after, 0, 0), zlibRecord(sorted));
  // A chunk without a repair keeps its stored record.
  EXPECT_EQ(recordAt(r.after, 1, 0), recordAt(r.before, 1, 0));
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
  EXPECT_EQ(recordAt(r.after, 1, 0), recordAt(input, 1, 0));
  EXPECT_EQ(recordAt(r.after, 2, 0), recordAt(input, 1, 0));
}

// A chunk whose repaired record would need more sectors than a location
// entry can count is kept as it was stored, and so is its own count byte.
TEST(Rewrite, ChunkTooLargeForALocationEntryIsKeptAsStored) {
  Bytes huge;
  huge.u8(10).str("").compoundEntry("Level").named(7, "Noise").u32(1200000).raw(incompressible(1200000, 7));
  huge.named(9, "TileEntities").raw(compoundList({kChestWithPlainBook}).data()).end().end();
  ByteVec repaired = huge.data();
  const std::string plain = "plain text", json = "\"plain text\"";
  auto at = std::search(repaired.begin(), repaired.end(), plain.begin(), plain.end()) - 2;
  repaired.erase(at, at + 2 + static_cast<long>(plain.size()));
  const ByteVec jsonString = Bytes().str(json).data();
  repaired.insert(at, jsonString.begin(), jsonString.end());
  const size_t sectors = (zlibCompress(repaired).size() + 5 + 4095) / 4096;
  ASSERT_GT(sectors, 255u);
  RegionRun r = runOnRegion(RegionBuilder().chunk(1, 0, huge).build());
  EXPECT_EQ(r.output, kRepairLine + "Warning: Chunk 1,0 would need " + std::to_string(sectors) +
                          " sectors, more than a location entry can describe; it is kept exactly as it was stored\n");
  EXPECT_EQ(slotEntry(r.after, 1, 0).count, slotEntry(r.before, 1, 0).count);  // the input's own count byte
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

// The writer carries a record it was given no load of the same way: every
// chunk of a real region survives a rewrite by a program that only opened it.
TEST(RewriteReal, ARegionOpenedButNotLoadedIsCarriedWhole) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  ScratchDir scratch;
  const ByteVec input = readFile(dir + "/broken.regiontest.mca");
  writeFile(scratch.file("in.mca"), input);
  region::RegionFile file;
  ASSERT_TRUE(file.open(scratch.file("in.mca").c_str()));
  region::MadeRecords none;
  ASSERT_EQ(region::writeRegion(scratch.file("out.mca").c_str(), file, none), 0);
  const ByteVec output = readFile(scratch.file("out.mca"));
  for (int n = 0; n < 1024; ++n) EXPECT_EQ(recordAt(output, n % 32, n / 32), recordAt(input, n % 32, n / 32)) << n;
}

// A chest in a real chunk gets a plain-text book: the run repairs that chunk
// and carries every other record over byte for byte.
TEST(RewriteReal, OnlyTheBookChangesInARealRegion) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  ByteVec input = readFile(dir + "/anvil116.r.0.0.mca");
  int bookSlot = -1;
  ByteVec chunk;
  for (int n = 0; n < 1024 && bookSlot < 0; ++n) {
    chunk = chunkAt(input, n % 32, n / 32);
    if (chunk.size() < 3) continue;
    Tree tree;
    ByteCursor cursor(chunk.data() + 3, chunk.size() - 3);
    if (tree.read(kTagCompound, cursor) != Tree::Read::ok) continue;
    Tag tiles = getList(getCompound(tree.root(), "Level"), "TileEntities");
    for (Tag tile = tiles.elementType() == kTagCompound ? tiles.firstChild() : Tag(); tile; tile = tile.nextSibling()) {
      Tag items = getList(tile, "Items");
      if (!items || (items.elementType() != kTagCompound && items.count() > 0)) continue;
      // The book goes at the end of the list, whose count grows by one.
      const size_t list = static_cast<size_t>(items.payload() - chunk.data());
      const ByteVec head = Bytes().u8(kTagCompound).u32(items.count() + 1).data();
      const ByteVec book = writtenBook("Real", {"Once upon a time", "{\"text\":\"ok\"}"}).data();
      chunk.insert(chunk.begin() + static_cast<long>(list + items.payloadSize()), book.begin(), book.end());
      std::copy(head.begin(), head.end(), chunk.begin() + static_cast<long>(list));
      bookSlot = n;
      break;
    }
  }
  ASSERT_GE(bookSlot, 0) << "no container found";
  const ByteVec record = zlibRecord(chunk);
  const uint32_t sector = static_cast<uint32_t>(input.size() / 4096);
  input.insert(input.end(), record.begin(), record.end());
  input.resize((input.size() + 4095) / 4096 * 4096, 0);
  const size_t n = static_cast<size_t>(bookSlot);
  input[4 * n] = static_cast<uint8_t>(sector >> 16), input[4 * n + 1] = static_cast<uint8_t>(sector >> 8);
  input[4 * n + 2] = static_cast<uint8_t>(sector), input[4 * n + 3] = static_cast<uint8_t>((record.size() + 4095) / 4096);

  RegionRun r = runOnRegion(input);
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("Book 'Real' in "), std::string::npos);
  EXPECT_NE(r.output.find(" page 0 repaired\n"), std::string::npos);
  int carried = 0;
  for (int slot = 0; slot < 1024; ++slot) {
    SCOPED_TRACE("slot " + std::to_string(slot));
    if (slot == bookSlot) {
      EXPECT_NE(chunkAt(r.after, slot % 32, slot / 32), chunk);
      continue;
    }
    EXPECT_EQ(recordAt(r.after, slot % 32, slot / 32), recordAt(input, slot % 32, slot / 32));
    carried += !recordAt(input, slot % 32, slot / 32).empty();
  }
  EXPECT_GT(carried, 200);
}

}  // namespace
