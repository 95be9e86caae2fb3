// The command line and the file as a whole, through the real binary.
#include <gtest/gtest.h>

#include "support/run.h"

using namespace testing_support;

namespace {

TEST(CommandLine, MissingArgumentPrintsSyntax) {
  RunResult r = runCommand(quoted(PAGEMEND_BINARY));
  EXPECT_EQ(r.output, std::string("Syntax: ") + PAGEMEND_BINARY + " <filename.mcr/mca>\n");
  EXPECT_EQ(r.exitCode, 1);
}

TEST(CommandLine, UnopenableInputIsAnError) {
  ScratchDir dir;
  RunResult missing = runPagemend({dir.file("nope.mca")});
  EXPECT_EQ(missing.output, "Error: unable to open file '" + dir.file("nope.mca") + "'!\n");
  EXPECT_EQ(missing.exitCode, 1);
  RunResult folder = runPagemend({dir.path()});
  EXPECT_EQ(folder.output, "Error: unable to open file '" + dir.path() + "'!\n");
  EXPECT_EQ(folder.exitCode, 1);
}

TEST(CommandLine, FurtherArgumentsAreIgnored) {
  ScratchDir dir;
  writeFile(dir.file("a.mca"), RegionBuilder().build());
  RunResult r = runPagemend({dir.file("a.mca"), dir.file("other.mca"), "--flag"});
  EXPECT_EQ(r.output, "No fixable problems found in '" + dir.file("a.mca") + "'.\n");
  EXPECT_EQ(r.exitCode, 0);
}

TEST(CommandLine, EmptyAndHeaderOnlyFilesHoldNoChunks) {
  for (const ByteVec& region : {ByteVec{}, RegionBuilder().build()}) {
    RegionRun r = runOnRegion(region);
    EXPECT_EQ(r.output, "No fixable problems found in 'REGION'.\n");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.after, r.before);
  }
}

TEST(CommandLine, FileShorterThanItsTablesCannotBeExamined) {
  for (size_t size : {1u, 4096u, 8191u}) {
    RegionRun r = runOnRegion(ByteVec(size, 0));
    EXPECT_EQ(r.output, "Error: file 'REGION' is too short to be a region file (" + std::to_string(size) +
                            " bytes; its tables alone take 8192)!\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.after, r.before);
  }
}

TEST(CommandLine, ZeroSectorWithACountIsAnEmptySlot) {
  RegionRun r = runOnRegion(RegionBuilder().location(3, 0, 0, 5).timestamp(3, 0, 77).build());
  EXPECT_EQ(r.output, "No fixable problems found in 'REGION'.\n");
  EXPECT_EQ(r.after, r.before);
}

}  // namespace
