// The programs around pagemend: the world runner and the example generator.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "support/region_text.h"
#include "support/run.h"

using namespace testing_support;

namespace {

std::string world(const std::string& args) {
  return quoted(PAGEMEND_WORLD_BINARY) +
         " " + args;
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
  for (const char* sub : {"region", "DIM-1/region", "DIM1/region", "playerdata"}) std::filesystem::create_directories(w + "/" + sub);
  writeFile(w + "/region/r.0.0.mca", regionFromText(
      "chunk 0 0 compound \"\" { compound Level { list TileEntities compound [ { string id c list Items compound [ { string id "
      "minecraft:written_book compound tag { string title T list pages string [ a b ] } } ] } ] } }"));
  writeFile(w + "/region/r.1.0.mca", regionFromText("slot 4 0 ( sized 9 ( ) )"));
  writeFile(w + "/DIM-1/region/r.0.0.mca", ByteVec(100, 0));
  writeFile(w + "/DIM1/region/r.0.-1.mcr", regionFromText(""));
  writeFile(w + "/region/notes.txt", {1});
  writeFile(w + "/playerdata/r.9.9.mca", regionFromText(""));
  std::filesystem::create_symlink(w + "/region/r.0.0.mca", w + "/DIM1/region/r.7.7.mca");
  // A link to a named pipe is refused, not waited on.
  ASSERT_EQ(mkfifo((w + "/pipe").c_str(), 0600), 0);
  std::filesystem::create_symlink(w + "/pipe", w + "/DIM-1/region/r.5.5.mca");
  const std::string real = std::filesystem::canonical(w).string();

  RunResult r = runCommand(world(quoted(w) + " -j 3"));
  EXPECT_EQ(r.exitCode, 1);
  auto b = blocks(r.output);
  ASSERT_EQ(b.size(), 5u) << r.output;  // the files with nothing to say have no block
  EXPECT_EQ(b[real + "/region/r.0.0.mca"], (std::vector<std::string>{"Book 'T' in c page 0 repaired", "Book 'T' in c page 1 repaired"}));
  EXPECT_EQ(b[real + "/region/r.1.0.mca"], (std::vector<std::string>{"Error: Chunk 4,0 NBT is not compressed using Zlib (type=9)"}));
  EXPECT_EQ(b[real + "/DIM-1/region/r.0.0.mca"].size(), 1u);
  const std::string pipe = real + "/DIM-1/region/r.5.5.mca";
  EXPECT_EQ(b[pipe], (std::vector<std::string>{"Error: unable to open file '" + pipe + "'!"}));
  EXPECT_EQ(b["Summary"], (std::vector<std::string>{"Files examined: 5", "Books examined: 1", "Files repaired: 1",
                                                    "Pages repaired: 2", "Files with errors: 3"}));
  // Without the short file and the pipe, the run is clean: everything else repaired or readable now.
  std::filesystem::remove(w + "/DIM-1/region/r.0.0.mca");
  std::filesystem::remove(w + "/DIM-1/region/r.5.5.mca");
  RunResult again = runCommand(world(quoted(w) + " -j1"));
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(blocks(again.output)["Summary"],
            (std::vector<std::string>{"Files examined: 3", "Books examined: 1", "Files repaired: 0", "Pages repaired: 0",
                                      "Files with errors: 1"}));
}

TEST(Example, TheGeneratorWritesTheBundledExample) {
  ScratchDir dir;
  ASSERT_EQ(runCommand(quoted(PAGEMEND_MAKE_EXAMPLE) + " " + dir.file("a.mca")).exitCode, 0);
  EXPECT_EQ(readFile(dir.file("a.mca")), readFile(std::string(PAGEMEND_SOURCE_DIR) + "/examples/broken-books.mca"));
  ASSERT_EQ(runCommand(quoted(PAGEMEND_MAKE_EXAMPLE) + " --1.20 " + dir.file("b.mca") + " " + dir.file("e.mca")).exitCode, 0);
  EXPECT_EQ(readFile(dir.file("b.mca")), readFile(std::string(PAGEMEND_SOURCE_DIR) + "/examples/broken-books-1.20.mca"));
  EXPECT_EQ(readFile(dir.file("e.mca")),
            readFile(std::string(PAGEMEND_SOURCE_DIR) + "/examples/broken-books-1.20-entities.mca"));
}

}  // namespace
