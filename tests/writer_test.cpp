// The region writer, in memory: regions laid out into a buffer, without
// starting a process (the whole program's rewrites are cases in tests/cases).
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>

#include "anvil/region_writer.h"
#include "support/region_text.h"

using namespace anvil;
using testing_support::ByteVec;
using testing_support::regionFromText;

namespace {

// Records of a given size (header included) for the slots asked, and what
// the writer said.
struct Sized : RecordSource {
  std::map<int, size_t> sizes;
  std::map<int, NewRecord> refused;
  std::map<std::string, size_t> chunkFiles;
  std::map<int, int64_t> tooLarge;
  std::map<int, TooLarge> why;
  std::set<int> tooOld;  // chunks of a version that reads no files of their own
  bool chunkFilesFail = false;

  NewRecord make(int n, ByteBuffer& record) override {
    if (refused.count(n)) return refused[n];
    record.assign(sizes.at(n), 0xAB);
    storeRecordHeader(record.data(), static_cast<uint32_t>(record.size() - 4), kZlibCompression);
    return NewRecord::made;
  }
  bool chunkFile(int, const std::string& name, const uint8_t*, size_t size) override {
    chunkFiles[name] = size;
    return !chunkFilesFail;
  }
  bool mayHaveOwnFile(int n) override { return !tooOld.count(n); }
  void keptTooLarge(int n, int64_t sectors, TooLarge reason) override {
    tooLarge[n] = sectors;
    why[n] = reason;
  }
};

struct Written {
  MemorySink sink;
  bool complete = false;
  Location at(int n) const { return loadLocation(sink.bytes.data(), n); }
  ByteVec sectors(int n) const {
    const Location l = at(n);
    return ByteVec(sink.bytes.begin() + l.sector * kSectorSize, sink.bytes.begin() + (l.sector + l.count) * kSectorSize);
  }
};

// Opens the region the text describes, marks `rewritten` and writes it anew.
Written rewrite(const std::string& text, Sized& source, std::initializer_list<int> rewritten, ChunkFiles files = {},
                RegionFile* keep = nullptr) {
  RegionFile local;
  RegionFile& file = keep ? *keep : local;
  EXPECT_TRUE(static_cast<bool>(file.openBytes(regionFromText(text))));
  for (int n : rewritten) file.slots[n].rewritten = true;
  Written out;
  out.complete = writeRegion(out.sink, file, source, files);
  return out;
}

TEST(Writer, RecordsTakeTheSectorsTheyNeedFromSectorTwoOn) {
  Sized source;
  source.sizes = {{0, 4096}, {1, 4097}, {2, 5}};
  const Written w = rewrite("timestamp 0 0 7 timestamp 2 0 9 chunk 0 0 compound \"\" { } chunk 1 0 compound \"\" { } "
                            "chunk 2 0 compound \"\" { }",
                            source, {0, 1, 2});
  ASSERT_TRUE(w.complete);
  EXPECT_EQ(w.at(0).sector, 2u);
  EXPECT_EQ(w.at(0).count, 1);
  EXPECT_EQ(w.at(1).sector, 3u);
  EXPECT_EQ(w.at(1).count, 2);
  EXPECT_EQ(w.at(2).sector, 5u);
  EXPECT_EQ(w.at(2).count, 1);
  EXPECT_EQ(w.sink.bytes.size(), 6 * size_t{kSectorSize});
  EXPECT_EQ(loadTimestamp(w.sink.bytes.data(), 0), 7u);
  EXPECT_EQ(loadTimestamp(w.sink.bytes.data(), 2), 9u);
  // Padded with zeros to the sector's end.
  const ByteVec last = w.sectors(2);
  EXPECT_TRUE(std::all_of(last.begin() + 5, last.end(), [](uint8_t b) { return b == 0; }));
}

TEST(Writer, ARecordOverTwoHundredFiftyFiveSectorsGoesToAFileOfItsOwn) {
  Sized source;
  source.sizes = {{0, 255 * size_t{kSectorSize}}, {1, 255 * size_t{kSectorSize} + 1}};
  const std::string text = "chunk 0 0 compound \"\" { } chunk 1 0 compound \"\" { }";
  const Written named = rewrite(text, source, {0, 1}, {true, -1, 2});
  ASSERT_TRUE(named.complete);
  EXPECT_EQ(named.at(0).count, 255);
  EXPECT_EQ(named.at(1).sector, 257u);
  EXPECT_EQ(named.at(1).count, 1);
  const ByteVec stub = named.sectors(1);
  EXPECT_EQ(ByteVec(stub.begin(), stub.begin() + 5), (ByteVec{0, 0, 0, 1, kZlibCompression | kExternalFlag}));
  EXPECT_EQ(source.chunkFiles, (std::map<std::string, size_t>{{"c.-31.64.mcc", 255 * size_t{kSectorSize} + 1 - 5}}));

  // Without coordinates for its file, it stays as it was stored.
  Sized again;
  again.sizes = source.sizes;
  RegionFile file;
  const Written unnamed = rewrite(text, again, {0, 1}, {}, &file);
  EXPECT_EQ(again.tooLarge, (std::map<int, int64_t>{{1, 256}}));
  EXPECT_EQ(again.why, (std::map<int, RecordSource::TooLarge>{{1, RecordSource::TooLarge::unnamed}}));
  EXPECT_TRUE(again.chunkFiles.empty());
  ByteVec stored(static_cast<size_t>(file.extent(1)));
  ASSERT_TRUE(file.readAt(file.slots[1].offset, stored.data(), stored.size()));
  const ByteVec carried = unnamed.sectors(1);
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), carried.begin()));

  // Nor, in a region with coordinates, for a chunk whose game reads no such file.
  Sized old;
  old.sizes = source.sizes;
  old.tooOld = {0, 1};
  const Written kept = rewrite(text, old, {0, 1}, {true, -1, 2});
  ASSERT_TRUE(kept.complete);
  EXPECT_EQ(kept.at(0).count, 255);  // one that fits stays in the region whatever its version
  EXPECT_EQ(old.why, (std::map<int, RecordSource::TooLarge>{{1, RecordSource::TooLarge::tooOld}}));
  EXPECT_TRUE(old.chunkFiles.empty());

  // A chunk's file that cannot be written stops the region too.
  Sized failing;
  failing.sizes = source.sizes;
  failing.chunkFilesFail = true;
  EXPECT_FALSE(rewrite(text, failing, {0, 1}, {true, 0, 0}).complete);
}

TEST(Writer, SlotsThatSharedARecordShareOneStillWhetherCarriedOrMade) {
  Sized source;
  source.sizes = {{0, 100}, {1, 100}};
  // Slots 0 and 1 share a record; so do 2 and 3.
  const std::string text = "chunk 0 0 compound \"\" { } chunk 2 0 compound \"\" { } location 1 0 2 1 location 3 0 3 1";
  const Written w = rewrite(text, source, {0, 1});
  ASSERT_TRUE(w.complete);
  EXPECT_EQ(w.at(0).sector, w.at(1).sector);
  EXPECT_EQ(w.at(2).sector, w.at(3).sector);
  EXPECT_NE(w.at(0).sector, w.at(2).sector);
  EXPECT_EQ(w.sink.bytes.size(), 4 * size_t{kSectorSize});
}

TEST(Writer, StoredBytesAreCarriedAsTheyAreButForAChecksumTheyLack) {
  Sized source;
  RegionFile file;
  // Slot 0 did not load: its claimed sectors go whole. Slot 1 loaded short of its checksum.
  const std::string text = "slot 0 0 ( u32 2 u8 9 u8 1 repeat 5000 ( u8 7 ) ) location 0 0 2 2 chunk 1 0 compound \"\" { }";
  ASSERT_TRUE(static_cast<bool>(file.openBytes(regionFromText(text))));
  file.slots[1].extent = file.extent(1) - 2;  // as a load of a record two bytes short would leave it
  file.slots[1].checksumMissing = 2;
  file.slots[1].checksum = 0x01020304;
  Written w;
  w.complete = writeRegion(w.sink, file, source);
  ASSERT_TRUE(w.complete);
  EXPECT_EQ(w.at(0).count, 2);
  const ByteVec carried = w.sectors(0);
  EXPECT_EQ(carried[5], 1);
  EXPECT_EQ(carried[4999 + 6], 7);  // beyond the record's length field, within its claim
  const ByteVec completed = w.sectors(1);
  const size_t length = nbt::loadU32(completed.data());
  EXPECT_EQ(static_cast<int64_t>(4 + length), file.extent(1) + 2);
  EXPECT_EQ(completed[4 + length - 2], 0x03);
  EXPECT_EQ(completed[4 + length - 1], 0x04);
}

TEST(Writer, ARecordTheSourceCannotMakeIsCarriedAndAFatalOneStopsTheWrite) {
  Sized source;
  source.refused = {{0, NewRecord::keepStored}};
  source.sizes = {{1, 10}};
  RegionFile file;
  const Written kept = rewrite("chunk 0 0 compound \"\" { } chunk 1 0 compound \"\" { }", source, {0, 1}, {}, &file);
  ASSERT_TRUE(kept.complete);
  ByteVec stored(static_cast<size_t>(file.extent(0)));
  ASSERT_TRUE(file.readAt(file.slots[0].offset, stored.data(), stored.size()));
  const ByteVec carried = kept.sectors(0);
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), carried.begin()));

  source.refused = {{0, NewRecord::fatal}};
  EXPECT_FALSE(rewrite("chunk 0 0 compound \"\" { } chunk 1 0 compound \"\" { }", source, {0, 1}).complete);
}

// A sink that stands as if far into a file already.
struct FarSink : MemorySink {
  int64_t start = 0;
  int64_t position() const override { return start + MemorySink::position(); }
};

TEST(Writer, ARecordBeyondWhatALocationCanPointAtFailsTheWrite) {
  for (const int64_t lastSector : {kMaxSectorNumber, kMaxSectorNumber + 1}) {
    Sized source;
    source.sizes = {{0, 10}};
    RegionFile file;
    ASSERT_TRUE(static_cast<bool>(file.openBytes(regionFromText("chunk 0 0 compound \"\" { }"))));
    file.slots[0].rewritten = true;
    FarSink sink;
    sink.start = (lastSector - 2) * kSectorSize;  // the header's two sectors come first
    writeRegion(sink, file, source, {});
    EXPECT_EQ(sink.error(), lastSector > kMaxSectorNumber ? EFBIG : 0) << lastSector;
    if (!sink.error()) {
      EXPECT_EQ(loadLocation(sink.bytes.data(), 0).sector, lastSector);
    }
  }
}

}  // namespace
