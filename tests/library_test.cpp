// libpagemend through its C API alone, as another program uses it: a table
// of trees, each with what the call returns and the lines it hands over.

#include <gtest/gtest.h>
#include <pagemend.h>

#include <string>
#include <vector>

#include "support/region_text.h"

namespace {

struct Call {
  int result;
  std::vector<std::string> findings;  // kind, title, page, where, line
  std::vector<unsigned char> repaired;
};

Call repair(const std::vector<uint8_t>& tree, unsigned flags = 0) {
  Call call;
  unsigned char* out = reinterpret_cast<unsigned char*>(1);
  size_t size = 1;
  call.result = pm_repair_chunk(
      tree.data(), tree.size(), flags,
      [](const pm_finding* f, void* user) {
        static_cast<Call*>(user)->findings.push_back(std::to_string(f->kind) + "|" + (f->title ? f->title : "(none)") +
                                                     "|" + std::to_string(f->page) + "|" + f->where + "|" + f->line);
      },
      &call, &out, &size);
  if (call.result == 1) call.repaired.assign(out, out + size);
  EXPECT_EQ(call.result == 1, out != nullptr);
  EXPECT_EQ(call.result == 1, size > 0);
  pm_free(out);
  return call;
}

const char kBook[] = "{ string id minecraft:written_book compound tag { string title \"T\" list pages string [ \"plain\" ] } }";

std::string chest(const std::string& items) {
  return "list TileEntities compound [ { string id \"minecraft:chest\" int x 1 int y 2 int z 3 list Items compound [ " +
         items + " ] } ]";
}

struct Case {
  const char* name;
  std::string tree;  // as the cases write trees
  unsigned flags;
  int result;
  std::vector<std::string> findings;
};

const std::vector<Case> kCases = {
    {"a plain page in a chest", "compound \"\" { compound Level { " + chest(kBook) + " } }", 0, 1,
     {"1|T|0|in minecraft:chest at 1,2,3|Book 'T' in minecraft:chest at 1,2,3 page 0 repaired"}},
    {"nothing to repair", "compound \"\" { compound Level { " + chest("") + " } }", 0, 0, {}},
    {"a warning and a page that may be corrupted",
     "compound \"\" { compound Level { " +
         chest("{ byte Count 1 } { string id minecraft:written_book compound tag { string title \"C\" list pages string "
               "[ \"{\\\"text\\\":\\\"a1\\\"}\" ] } }") +
         " } }",
     0, 0,
     {"3|(none)|-1||Warning: contained item ID missing or malformed!",
      "2|C|0|in minecraft:chest at 1,2,3|Book 'C' page 0 in minecraft:chest at 1,2,3 may have been corrupted: "
      "'{\"text\":\"a1\"}'"}},
    {"a chunk of 1.18, read in its own layout",
     "compound \"\" { int DataVersion 2860 list block_entities compound [ { string id \"minecraft:chest\" int x 1 int y "
     "2 int z 3 list Items compound [ " + std::string(kBook) + " ] } ] }",
     0, 1, {"1|T|0|in minecraft:chest at 1,2,3|Book 'T' in minecraft:chest at 1,2,3 page 0 repaired"}},
    {"a chunk without Level older than 1.18, without PM_EVERYWHERE",
     "compound \"\" { int DataVersion 2843 list block_entities compound [ { string id \"minecraft:chest\" int x 1 int y "
     "2 int z 3 list Items compound [ " + std::string(kBook) + " ] } ] }",
     0, PM_E_NO_LEVEL, {}},
    {"the same with it",
     "compound \"\" { int DataVersion 2843 list block_entities compound [ { string id \"minecraft:chest\" int x 1 int y "
     "2 int z 3 list Items compound [ " + std::string(kBook) + " ] } ] }",
     PM_EVERYWHERE, 1, {"1|T|0|in minecraft:chest at 1,2,3|Book 'T' in minecraft:chest at 1,2,3 page 0 repaired"}},
    {"a player's file", "compound Player { list Inventory compound [ " + std::string(kBook) + " ] }", 0, 1,
     {"1|T|0|in the inventory of the player|Book 'T' in the inventory of the player page 0 repaired"}},
    {"level.dat", "compound \"\" { compound Data { compound Player { list EnderItems compound [ " + std::string(kBook) +
                      " ] } } }",
     0, 1, {"1|T|0|in the ender chest of the player in level.dat|Book 'T' in the ender chest of the player in level.dat page 0 repaired"}},
    {"a named chunk", "compound x { compound Level { } }", 0, PM_E_NAMED, {}},
    {"bytes cut short", "compound \"\" { compound Level {", 0, PM_E_TREE, {}},
    {"a root that is no compound", "int \"\" 5", 0, PM_E_TREE, {}},
    {"an unknown flag", "compound \"\" { compound Level { } }", 4, PM_E_ARGUMENT, {}},
    {"a book made to survive an upgrade",
     "compound \"\" { compound Level { " +
         chest("{ byte Count 1 string id minecraft:written_book compound tag { string title "
               "\"Thirty-three characters of title!\" list pages string [ \"\\\"Run!\\\" he said.\" ] } }") +
         " } }",
     PM_UPGRADE, 1,
     {"1|Thirty-three characters of title!|0|in minecraft:chest at 1,2,3|Book 'Thirty-three characters of title!' in "
      "minecraft:chest at 1,2,3 page 0 repaired",
      "1|Thirty-three characters of title!|-1|in minecraft:chest at 1,2,3|Book 'Thirty-three characters of title!' in "
      "minecraft:chest at 1,2,3 title shortened to 'Thirty-three characters of title', as Minecraft 1.20.5 and later "
      "keep a book only with a title of at most 32 characters"}},
};

TEST(Library, RepairsATreeAsTheProgramDoes) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> tree;
    const size_t open = c.tree.rfind('{');
    // A tree cut short is written whole, then cut.
    const bool cut = open != std::string::npos && open + 1 == c.tree.size();
    tree = testing_support::bytesFromText(cut ? c.tree + " } }" : c.tree);
    if (cut) tree.resize(tree.size() - 2);
    const Call call = repair(tree, c.flags);
    EXPECT_EQ(call.result, c.result);
    EXPECT_EQ(call.findings, c.findings);
    if (call.result != 1) continue;
    // What it made is whole and holds nothing more to repair.
    const Call again = repair(std::vector<uint8_t>(call.repaired.begin(), call.repaired.end()), c.flags);
    EXPECT_EQ(again.result, 0);
    for (const std::string& line : again.findings) EXPECT_EQ(line.find("repaired"), std::string::npos) << line;
  }
}

TEST(Library, RefusesMissingArgumentsAndSaysItsVersion) {
  unsigned char* out;
  size_t size;
  const std::vector<uint8_t> tree = testing_support::bytesFromText("compound \"\" { compound Level { } }");
  EXPECT_EQ(pm_repair_chunk(nullptr, 0, 0, nullptr, nullptr, &out, &size), PM_E_ARGUMENT);
  EXPECT_EQ(pm_repair_chunk(tree.data(), tree.size(), 0, nullptr, nullptr, nullptr, &size), PM_E_ARGUMENT);
  EXPECT_EQ(pm_repair_chunk(tree.data(), tree.size(), 0, nullptr, nullptr, &out, &size), 0);
  EXPECT_STREQ(pm_version(), PAGEMEND_VERSION_TEXT);
  pm_free(nullptr);
}

}  // namespace
