// Chunk records and the zlib codec's messages, through the real binary.
#include <gtest/gtest.h>

#include "support/run.h"

using namespace testing_support;

namespace {

const std::string kNothing = "No fixable problems found in 'REGION'.\n";

ByteVec goodChunk() { return chunkWith({}); }

TEST(Records, CompressionTypesOtherThanZlibAreReportedWithTheirNumber) {
  ByteVec data = zlibCompress(goodChunk());
  RegionBuilder region;
  region.record(0, 0, rawRecord(static_cast<uint32_t>(data.size() + 1), 1, data));
  region.record(1, 0, rawRecord(static_cast<uint32_t>(data.size() + 1), 3, data));
  region.record(2, 0, rawRecord(static_cast<uint32_t>(data.size() + 1), 0, data));
  region.record(3, 0, rawRecord(static_cast<uint32_t>(data.size() + 1), 130, data));
  region.chunk(4, 0, goodChunk());
  RegionRun r = runOnRegion(region.build());
  EXPECT_EQ(r.output,
            "Error: Chunk 0,0 NBT is not compressed using Zlib (type=1)\n"
            "Error: Chunk 1,0 NBT is not compressed using Zlib (type=3)\n"
            "Error: Chunk 2,0 NBT is not compressed using Zlib (type=0)\n"
            "Error: Chunk 3,0 NBT is not compressed using Zlib (type=130)\n" +
                kNothing);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.after, r.before);
}

TEST(Records, SlotsAreVisitedZMajorAndNamedXThenZ) {
  RegionBuilder region;
  for (int n : {33, 1, 1023, 32, 0}) region.record(n % 32, n / 32, rawRecord(1, 7, {}));
  RegionRun r = runOnRegion(region.build());
  EXPECT_EQ(r.output,
            "Error: Chunk 0,0 NBT is not compressed using Zlib (type=7)\n"
            "Error: Chunk 1,0 NBT is not compressed using Zlib (type=7)\n"
            "Error: Chunk 0,1 NBT is not compressed using Zlib (type=7)\n"
            "Error: Chunk 1,1 NBT is not compressed using Zlib (type=7)\n"
            "Error: Chunk 31,31 NBT is not compressed using Zlib (type=7)\n" +
                kNothing);
}

TEST(Records, RecordsThatCannotBeReadWholeAreReportedAndSkipped) {
  ByteVec data = zlibCompress(goodChunk());
  RegionBuilder region;
  region.chunk(0, 0, goodChunk());
  region.location(1, 0, 900, 1);                                              // far past the end
  region.record(2, 0, rawRecord(0, 2, data));                                 // length 0
  region.record(3, 0, rawRecord(0x80000005u, 2, data));                       // negative length
  region.record(4, 0, rawRecord(static_cast<uint32_t>(data.size() + 500000), 2, data));  // longer than the file
  region.chunk(5, 0, goodChunk());
  ByteVec file = region.build();
  // Slot 6,0 points at the very end, where only 3 bytes of a header remain.
  uint32_t lastSector = static_cast<uint32_t>(file.size() / 4096);
  file.insert(file.end(), {0, 0, 0});
  file[4 * 6] = 0, file[4 * 6 + 1] = static_cast<uint8_t>(lastSector >> 8), file[4 * 6 + 2] = static_cast<uint8_t>(lastSector);
  file[4 * 6 + 3] = 1;
  RegionRun r = runOnRegion(file);
  EXPECT_EQ(r.output,
            "Error: Chunk 1,0 failed to read all data\n"
            "Error: Chunk 2,0 has an invalid record length (0)\n"
            "Error: Chunk 3,0 has an invalid record length (-2147483643)\n"
            "Error: Chunk 4,0 failed to read all data\n"
            "Error: Chunk 6,0 failed to read all data\n" +
                kNothing);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.after, r.before);
}

TEST(Records, HugeLengthFieldOverASmallFileAllocatesNothing) {
  RegionRun r = runOnRegion(RegionBuilder().record(0, 0, rawRecord(0x7FFFFFFF, 2, ByteVec(20, 0x78))).build());
  EXPECT_EQ(r.output, "Error: Chunk 0,0 failed to read all data\n" + kNothing);
}

TEST(Codec, InflateFailuresPrintZlibsCodeThenTheChunkLine) {
  ByteVec stream = zlibCompress(goodChunk());
  ByteVec gzip = {0x1F, 0x8B, 0x08, 0x00, 0, 0, 0, 0, 0, 0x03, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ByteVec cutShort(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2));
  ByteVec noChecksum(stream.begin(), stream.end() - 1);
  // A zlib header that asks for a preset dictionary (FDICT set, check bits valid).
  ByteVec needsDictionary = {0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00};
  RegionBuilder region;
  region.record(0, 0, rawRecord(1, 2, {}));  // no compressed bytes at all
  region.record(1, 0, rawRecord(static_cast<uint32_t>(gzip.size() + 1), 2, gzip));
  region.record(2, 0, rawRecord(static_cast<uint32_t>(cutShort.size() + 1), 2, cutShort));
  region.record(3, 0, rawRecord(static_cast<uint32_t>(noChecksum.size() + 1), 2, noChecksum));
  region.record(4, 0, rawRecord(static_cast<uint32_t>(needsDictionary.size() + 1), 2, needsDictionary));
  region.record(5, 0, rawRecord(static_cast<uint32_t>(stream.size() + 4), 2, Bytes().raw(stream).u8(1).u8(2).u8(3)));
  RegionRun r = runOnRegion(region.build());
  EXPECT_EQ(r.output,
            "ERROR: inflateEnd (-5)\nError: Chunk 0,0 failed to decompress\n"
            "ERROR: inflate (-3)\nError: Chunk 1,0 failed to decompress\n"
            "ERROR: inflateEnd (0)\nError: Chunk 2,0 failed to decompress\n"
            "ERROR: inflateEnd (0)\nError: Chunk 3,0 failed to decompress\n"
            "ERROR: inflate (2)\nError: Chunk 4,0 failed to decompress\n" +
                kNothing);
  EXPECT_EQ(r.after, r.before);
}

TEST(Codec, ChunksOfManyMebibytesInflateWhole) {
  // Exactly 1 MiB, and several MiB: the staging buffer fills and the loop goes round.
  for (size_t size : {size_t{1} << 20, size_t{5} << 20}) {
    Bytes chunk;
    chunk.u8(10).str("").compoundEntry("Level").named(7, "blob").u32(0);
    const size_t arrayLength = size - chunk.size() - 2;
    ByteVec bytes = chunk.data();
    bytes[bytes.size() - 4] = static_cast<uint8_t>(arrayLength >> 24);
    bytes[bytes.size() - 3] = static_cast<uint8_t>(arrayLength >> 16);
    bytes[bytes.size() - 2] = static_cast<uint8_t>(arrayLength >> 8);
    bytes[bytes.size() - 1] = static_cast<uint8_t>(arrayLength);
    bytes.resize(size - 2, 0x11);
    bytes.push_back(0);
    bytes.push_back(0);
    ASSERT_EQ(bytes.size(), size);
    RegionRun r = runOnRegion(RegionBuilder().chunk(0, 0, bytes).build());
    EXPECT_EQ(r.output, kNothing) << size;
  }
}

}  // namespace
