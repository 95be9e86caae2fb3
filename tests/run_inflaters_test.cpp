// How a run is carried out inside changes nothing a user sees: every input
// gives the same lines, exit code and file whether libdeflate or zlib alone
// inflates it, and whether one thread loads the chunks or two.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/real_regions.h"
#include "support/run.h"

using namespace testing_support;

namespace {

RunResult runWith(const std::string& settings, const ByteVec& input, ByteVec& after) {
  ScratchDir dir;
  const std::string path = dir.file("r.0.0.mca");
  writeFile(path, input);
  RunResult r = runCommand(settings + " " + quoted(PAGEMEND_BINARY) + " " + quoted(path));
  for (size_t at; (at = r.output.find(path)) != std::string::npos;) r.output.replace(at, path.size(), "REGION");
  after = readFile(path);
  return r;
}

// Chunks with many lines each (more than a thread keeps before its turn).
ByteVec manyLines() {
  std::vector<Bytes> noIds(3000, Bytes().named(1, "Count").u8(1).end());
  RegionBuilder region;
  for (int n = 0; n < 6; ++n) {
    region.chunk(n, 0, chunkWith({container("minecraft:chest", n, 0, 0, noIds)}));
    region.chunk(n, 1, chunkWith({container("minecraft:chest", n, 1, 0, {writtenBook("B", {"plain"})})}));
  }
  return region.build();
}

TEST(Inflaters, FastAndZlibAloneAgreeOnEveryKeptInput) {
  std::vector<ByteVec> built = {manyLines()};
  std::vector<std::string> inputs;
  for (const char* folder : {"fuzz/regressions/region_run", "examples"}) {
    for (auto& e : std::filesystem::directory_iterator(std::string(PAGEMEND_SOURCE_DIR) + "/" + folder)) {
      inputs.push_back(e.path());
    }
  }
  if (std::string dir = realRegionsDir(); !dir.empty()) {
    for (auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.path().extension() == ".mca") inputs.push_back(e.path());
    }
  } else {
    std::cout << "real region files (../shared/regions) absent: comparing the kept inputs only\n";
  }
  for (const std::string& input : inputs) built.push_back(readFile(input));
  for (size_t i = 0; i < built.size(); ++i) {
    SCOPED_TRACE(i ? inputs[i - 1] : "many lines");
    const ByteVec& bytes = built[i];
    ByteVec fastFile, zlibFile;
    RunResult fast = runWith("PAGEMEND_THREADS=2", bytes, fastFile);
    RunResult zlib = runWith("PAGEMEND_THREADS=1 PAGEMEND_INFLATER=zlib", bytes, zlibFile);
    EXPECT_EQ(fast.output, zlib.output);
    EXPECT_EQ(fast.exitCode, zlib.exitCode);
    EXPECT_TRUE(fastFile == zlibFile);
  }
  EXPECT_GT(inputs.size(), 4u);
}

}  // namespace
