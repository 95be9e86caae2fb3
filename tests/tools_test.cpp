// The programs around pagemend: the world runner, the dump tool and the
// example generator, through their real executables.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/run.h"

using namespace testing_support;

namespace {

const Bytes kChest = container("minecraft:chest", 1, 2, 3, {writtenBook("T", {"plain text", "more words"})});

std::string world(const std::string& args) {
  return "PAGEMEND=" + testing_support::quoted(PAGEMEND_BINARY) + " bash " +
         testing_support::quoted(std::string(PAGEMEND_SOURCE_DIR) + "/tools/pagemend-world") + " " + args;
}

// The blocks of a world run's output, by header.
std::map<std::string, std::vector<std::string>> blocks(const std::string& output) {
  std::map<std::string, std::vector<std::string>> out;
  std::istringstream in(output);
  std::string current;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("== ", 0) == 0) {
      current = line.substr(3);
      EXPECT_EQ(out.count(current), 0u) << "two headers for " << current;
      out[current];
    } else {
      out[current].push_back(line);
    }
  }
  return out;
}

TEST(WorldRunner, RunsEveryRegionOnceAndSumsUp) {
  ScratchDir dir;
  const std::string w = dir.file("world");
  for (const char* sub : {"region", "DIM-1/region", "DIM1/region", "playerdata"}) {
    std::filesystem::create_directories(w + "/" + sub);
  }
  writeFile(w + "/region/r.0.0.mca", RegionBuilder().chunk(0, 0, chunkWith({kChest})).build());
  ByteVec z = zlibCompress(chunkWith({}));
  writeFile(w + "/region/r.1.0.mca",
            RegionBuilder().record(4, 0, rawRecord(static_cast<uint32_t>(z.size() + 1), 1, z)).build());
  writeFile(w + "/DIM-1/region/r.0.0.mca", ByteVec(100, 0));
  writeFile(w + "/DIM1/region/r.0.-1.mcr", RegionBuilder().chunk(0, 0, chunkWith({})).build());
  writeFile(w + "/region/notes.txt", {1});
  writeFile(w + "/playerdata/r.9.9.mca", RegionBuilder().build());
  std::filesystem::create_symlink(w + "/region/r.0.0.mca", w + "/DIM1/region/r.7.7.mca");
  const std::string real = std::filesystem::canonical(w).string();

  RunResult r = runCommand(world(testing_support::quoted(w) + " -j 3"));
  EXPECT_EQ(r.exitCode, 1);
  auto b = blocks(r.output);
  ASSERT_EQ(b.size(), 5u) << r.output;
  EXPECT_EQ(b[real + "/region/r.0.0.mca"],
            (std::vector<std::string>{"Book 'T' in minecraft:chest at 1,2,3 page 0 repaired",
                                      "Book 'T' in minecraft:chest at 1,2,3 page 1 repaired"}));
  EXPECT_EQ(b[real + "/region/r.1.0.mca"],
            (std::vector<std::string>{"Error: Chunk 4,0 NBT is not compressed using Zlib (type=1)",
                                      "No fixable problems found in '" + real + "/region/r.1.0.mca'."}));
  EXPECT_EQ(b[real + "/DIM-1/region/r.0.0.mca"],
            (std::vector<std::string>{"Error: file '" + real +
                                      "/DIM-1/region/r.0.0.mca' is too short to be a region file (100 bytes; its "
                                      "tables alone take 8192)!"}));
  EXPECT_EQ(b[real + "/DIM1/region/r.0.-1.mcr"],
            (std::vector<std::string>{"No fixable problems found in '" + real + "/DIM1/region/r.0.-1.mcr'."}));
  EXPECT_EQ(b["Summary"], (std::vector<std::string>{"Files examined: 4", "Files repaired: 1", "Pages repaired: 2",
                                                    "Files with errors: 2"}));

  // Everything repaired and readable now but the short file; without it the run is clean.
  std::filesystem::remove(w + "/DIM-1/region/r.0.0.mca");
  RunResult again = runCommand(world(testing_support::quoted(w) + " -j1"));
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(blocks(again.output)["Summary"],
            (std::vector<std::string>{"Files examined: 3", "Files repaired: 0", "Pages repaired: 0",
                                      "Files with errors: 1"}));
}

TEST(WorldRunner, RefusesWhatIsNotAWorld) {
  ScratchDir dir;
  EXPECT_EQ(runCommand(world(testing_support::quoted(dir.file("none")))).exitCode, 1);
  EXPECT_EQ(runCommand(world(testing_support::quoted(dir.path()) + " -j 0")).exitCode, 1);
  EXPECT_EQ(runCommand(world("")).exitCode, 1);
  RunResult empty = runCommand(world(testing_support::quoted(dir.path())));
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_NE(empty.output.find("Files examined: 0"), std::string::npos);
}

TEST(DumpTool, PrintsAChunkWithAndWithoutLabels) {
  ScratchDir dir;
  std::string path = dir.file("r.0.0.mca");
  Bytes chunk;
  chunk.u8(10).str("").compoundEntry("Level").listEntry("TileEntities", 10, 0).intEntry("xPos", -2).end().end();
  writeFile(path, RegionBuilder().chunk(3, 1, chunk).chunk(0, 0, Bytes().u8(10).str("").intEntry("a", 1).end()).build());
  const std::string binary = testing_support::quoted(PAGEMEND_DUMP_BINARY) + " " + testing_support::quoted(path);
  // Trees on standard output; the loader's reports on standard error.
  auto dump = [&](const std::string& args) { return runCommand("{ " + binary + args + " 2>/dev/null; }"); };
  RunResult reports = runCommand("{ " + binary + " >/dev/null; }");
  EXPECT_EQ(reports.output, "Error: Chunk 0,0 Level object missing or malformed!\n");
  RunResult plain = dump(" 3 1");
  EXPECT_EQ(plain.output, "Chunk 3,1:\n{\n  \"Level\":{\n    \"TileEntities\":[\n    ],\n    \"xPos\":-2\n  }\n}\n");
  EXPECT_EQ(plain.exitCode, 0);
  RunResult typed = dump(" --types 3 1");
  EXPECT_EQ(typed.output,
            "Chunk 3,1:\n(compound){\n  \"Level\":(compound){\n    \"TileEntities\":(list)[\n    ],\n"
            "    \"xPos\":(int)-2\n  }\n}\n");
  RunResult all = dump("");
  EXPECT_EQ(all.output, "Chunk 0,0:\n{\n  \"a\":1\n}\nChunk 3,1:\n{\n  \"Level\":{\n    \"TileEntities\":[\n    ],\n"
                        "    \"xPos\":-2\n  }\n}\n");
  RunResult missing = dump(" 5 5");
  EXPECT_EQ(missing.output, "Chunk 5,5 holds no readable tree\n");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(dump(" 32 0").exitCode, 1);
  EXPECT_EQ(dump(" 1").exitCode, 1);
}

TEST(Example, GeneratorIsDeterministicAndTheExampleRepairs) {
  ScratchDir dir;
  for (const char* name : {"a.mca", "b.mca"}) {
    ASSERT_EQ(runCommand(testing_support::quoted(PAGEMEND_MAKE_EXAMPLE) + " " + dir.file(name)).exitCode, 0);
  }
  EXPECT_EQ(readFile(dir.file("a.mca")), readFile(dir.file("b.mca")));

  RegionRun first = runOnRegion(readFile(std::string(PAGEMEND_SOURCE_DIR) + "/examples/broken-books.mca"));
  const std::string reports =
      "Warning: contained item ID missing or malformed!\n"
      "Book 'Codes' page 0 in minecraft:chest at 25,65,18 may have been corrupted: '{\"text\":\"a1b2c3\"}'\n"
      "Book 'Codes' page 1 in minecraft:chest at 25,65,18 may have been corrupted: '\"x9y8z7\"'\n";
  EXPECT_EQ(first.output,
            "Book 'Farm Notes' in minecraft:chest at 3,64,5 page 0 repaired\n"
            "Book 'Farm Notes' in minecraft:chest at 3,64,5 page 1 repaired\n"
            "Book 'Welcome' in minecraft:written_book at 20,70,2 page 0 repaired\n"
            "Book 'Welcome' in minecraft:written_book at 20,70,2 page 1 repaired\n"
            "Warning: contained item ID missing or malformed!\n"
            "Book 'Secret' inside minecraft:shulker_box inside minecraft:red_shulker_box in minecraft:barrel at "
            "4,60,20 page 0 repaired\n"
            "Book 'Codes' page 0 in minecraft:chest at 25,65,18 may have been corrupted: '{\"text\":\"a1b2c3\"}'\n"
            "Book 'Codes' page 1 in minecraft:chest at 25,65,18 may have been corrupted: '\"x9y8z7\"'\n");
  EXPECT_EQ(runOnRegion(first.after).output, reports + "No fixable problems found in 'REGION'.\n");
}

}  // namespace
