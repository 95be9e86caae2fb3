// What an inflated chunk's root must be, through the real binary.
#include <gtest/gtest.h>

#include "support/run.h"

using namespace testing_support;

namespace {

const std::string kNothing = "No fixable problems found in 'REGION'.\n";

TEST(Roots, EachRootFaultHasItsOwnLine) {
  RegionBuilder region;
  region.chunk(0, 0, {});                                              // inflates to nothing
  region.chunk(1, 0, Bytes().u8(0).u8(10).u16(0).data());              // type 0
  region.chunk(2, 0, Bytes().u8(10).str("root").end().data());         // named root
  region.chunk(3, 0, Bytes().u8(13).str("").end().data());             // type above 12
  region.chunk(4, 0, Bytes().u8(10).u16(40).raw("abc").data());        // name past the end
  region.chunk(5, 0, Bytes().u8(10).str("").intEntry("a", 1).data());  // tree cut short
  region.chunk(6, 0, Bytes().u8(9).str("").u8(3).u32(1).u32(5).data());  // a list root
  region.chunk(7, 0, Bytes().u8(10).str("").intEntry("DataVersion", 2975).end().data());  // no Level
  region.chunk(8, 0, Bytes().u8(10).str("").intEntry("Level", 1).end().data());           // Level not a compound
  region.chunk(9, 0, Bytes().u8(10).str("").named(10, "level").end().end().data());       // wrong case
  region.chunk(10, 0, Bytes().u8(10).u8(0).data());                     // one byte of name length only
  region.chunk(11, 0, chunkWith({}));                                   // a good chunk says nothing
  RegionRun r = runOnRegion(region.build());
  EXPECT_EQ(r.output,
            "Error: Chunk 0,0 contained no root tag!\n"
            "Error: Chunk 1,0 contained no root tag!\n"
            "Error: Chunk 2,0 root tag had non-blank name 'root'\n"
            "Error: Chunk 3,0 contained invalid root tag!\n"
            "Error: Chunk 4,0 contained invalid root tag!\n"
            "Error: Chunk 5,0 contained invalid root tag!\n"
            "Error: Chunk 6,0 root object malformed!\n"
            "Error: Chunk 7,0 Level object missing or malformed!\n"
            "Error: Chunk 8,0 Level object missing or malformed!\n"
            "Error: Chunk 9,0 Level object missing or malformed!\n"
            "Error: Chunk 10,0 contained invalid root tag!\n" +
                kNothing);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.after, r.before);
}

TEST(Roots, HostileTreesAreRejectedQuickly) {
  Bytes deep;
  deep.u8(10).str("");
  for (int i = 0; i < 100000; ++i) deep.compoundEntry("d");
  Bytes endList;
  endList.u8(10).str("").listEntry("ends", 0, 0x7FFFFFFF).end();
  Bytes bigArray;
  bigArray.u8(10).str("").named(12, "a").u32(0x7FFFFFFF).raw(std::string(80, '\0')).end();
  RegionBuilder region;
  region.chunk(0, 0, deep);
  region.chunk(1, 0, endList);
  region.chunk(2, 0, bigArray);
  RegionRun r = runOnRegion(region.build());
  EXPECT_EQ(r.output,
            "Error: Chunk 0,0 contained invalid root tag!\n"
            "Error: Chunk 1,0 contained invalid root tag!\n"
            "Error: Chunk 2,0 contained invalid root tag!\n" +
                kNothing);
}

}  // namespace
