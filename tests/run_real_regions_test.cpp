// The real region files of other projects: every one loads without a crash and
// reports exactly its known damage.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "support/real_regions.h"
#include "support/run.h"

using namespace testing_support;

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

RegionRun runOnRealFile(const std::string& path) { return runOnRegion(readFile(path)); }

// The slot named by a chunk line of the given form ("... Chunk %d,%d <rest>"), or -1.
int slotOf(const std::string& line, const std::string& rest) {
  int x = -1, z = -1, used = 0;
  if (std::sscanf(line.c_str(), "Error: Chunk %d,%d %n", &x, &z, &used) != 2 || line.substr(used) != rest) return -1;
  return x + 32 * z;
}

TEST(RealRegions, IntactFilesHaveNothingToReport) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  for (const char* name : {"anvil112.r.0.0.mca", "anvil113.r.0.0.mca", "anvil115.r.0.0.mca", "anvil116.r.0.0.mca",
                           "1.14.4.r.0.-1.mca", "1.17.1.r.0.0.mca", "empty.r.0.0.mca"}) {
    RegionRun r = runOnRealFile(dir + "/" + name);
    EXPECT_EQ(r.output, "No fixable problems found in 'REGION'.\n") << name;
    EXPECT_EQ(r.exitCode, 0) << name;
    EXPECT_EQ(r.after, r.before) << name;
  }
}

TEST(RealRegions, ChunksWithoutLevelAreEachReported) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  RegionRun r = runOnRealFile(dir + "/1.18.2.r.0.0.mca");
  std::vector<std::string> out = lines(r.output);
  ASSERT_EQ(out.size(), 281u);
  int previous = -1;
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    int slot = slotOf(out[i], "Level object missing or malformed!");
    ASSERT_GE(slot, 0) << out[i];
    EXPECT_GT(slot, previous);
    previous = slot;
  }
  EXPECT_EQ(out.back(), "No fixable problems found in 'REGION'.");
}

TEST(RealRegions, DamagedFileReportsEachDamagedSlot) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  RegionRun r = runOnRealFile(dir + "/broken.regiontest.mca");
  EXPECT_EQ(r.output,
            "Error: Chunk 2,0 NBT is not compressed using Zlib (type=0)\n"
            "ERROR: inflate (-3)\n"
            "Error: Chunk 3,0 failed to decompress\n"
            "Error: Chunk 10,0 NBT is not compressed using Zlib (type=1)\n"
            "Error: Chunk 11,0 NBT is not compressed using Zlib (type=3)\n"
            "Error: Chunk 14,0 NBT is not compressed using Zlib (type=79)\n"
            "Error: Chunk 15,0 failed to read all data\n"
            "Error: Chunk 3,1 Level object missing or malformed!\n"
            "Error: Chunk 4,1 has an invalid record length (0)\n"
            "Error: Chunk 5,1 contained invalid root tag!\n"
            "ERROR: inflateEnd (-5)\n"
            "Error: Chunk 8,1 failed to decompress\n"
            "No fixable problems found in 'REGION'.\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.after, r.before);
}

TEST(RealRegions, OneByteShortRecordsFailToDecompress) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  for (auto [name, chunks] : {std::pair<const char*, size_t>{"short-length.r.2.2.mca", 3},
                              std::pair<const char*, size_t>{"short-length.r.0.0.mca", 121}}) {
    RegionRun r = runOnRealFile(dir + "/" + name);
    std::vector<std::string> out = lines(r.output);
    ASSERT_EQ(out.size(), 2 * chunks + 1) << name;
    for (size_t i = 0; i < chunks; ++i) {
      EXPECT_EQ(out[2 * i], "ERROR: inflateEnd (0)");
      EXPECT_GE(slotOf(out[2 * i + 1], "failed to decompress"), 0) << out[2 * i + 1];
    }
    EXPECT_EQ(r.after, r.before) << name;
  }
}

}  // namespace
