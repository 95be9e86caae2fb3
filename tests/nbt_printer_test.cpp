#include <gtest/gtest.h>

#include <cstdio>

#include "support/bytes.h"
#include "support/trees.h"

using namespace nbt;
using testing_support::Bytes;

namespace {

std::string printed(const TAG& tag, int32_t level, bool showTypes) {
  testing::internal::CaptureStdout();
  tag.print(level, showTypes);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

TagPtr chunkWithFrame() {
  Bytes b;
  b.compoundEntry("Level");
  b.listEntry("Entities", kTagCompound, 1);
  b.stringEntry("id", "minecraft:item_frame").intEntry("TileZ", -3).intEntry("TileY", 64).intEntry("TileX", 10).end();
  b.listEntry("TileEntities", kTagCompound, 0);
  b.end().end();
  return testing_support::readAll(kTagCompound, b);
}

TEST(TagPrinter, PrintsATreeWithAndWithoutLabels) {
  TagPtr root = chunkWithFrame();
  EXPECT_EQ(printed(*root, 0, true),
            "(compound){\n"
            "  \"Level\":(compound){\n"
            "    \"Entities\":(list)[\n"
            "      (compound){\n"
            "        \"TileX\":(int)10,\n"
            "        \"TileY\":(int)64,\n"
            "        \"TileZ\":(int)-3,\n"
            "        \"id\":(string)\"minecraft:item_frame\"\n"
            "      }\n"
            "    ],\n"
            "    \"TileEntities\":(list)[\n"
            "    ]\n"
            "  }\n"
            "}");
  EXPECT_EQ(printed(*root, 0, false),
            "{\n"
            "  \"Level\":{\n"
            "    \"Entities\":[\n"
            "      {\n"
            "        \"TileX\":10,\n"
            "        \"TileY\":64,\n"
            "        \"TileZ\":-3,\n"
            "        \"id\":\"minecraft:item_frame\"\n"
            "      }\n"
            "    ],\n"
            "    \"TileEntities\":[\n"
            "    ]\n"
            "  }\n"
            "}");
}

TEST(TagPrinter, PrintsScalarsArraysAndEmptyBlocks) {
  EXPECT_EQ(printed(TAG_Compound(), 0, true), "(compound){\n}");
  EXPECT_EQ(printed(TAG_Compound(), 2, true), "(compound){\n    }");
  EXPECT_EQ(printed(TAG_List(), 0, false), "[\n]");
  EXPECT_EQ(printed(TAG_Int(7), 0, true), "(int)7");
  EXPECT_EQ(printed(TAG_Byte(static_cast<int8_t>(0xC8)), 0, true), "(byte)-56");
  EXPECT_EQ(printed(TAG_Short(-300), 0, true), "(short)-300");
  EXPECT_EQ(printed(TAG_Long(INT64_MIN), 0, true), "(long)-9223372036854775808");
  EXPECT_EQ(printed(TAG_Float(1.5f), 0, true), "(float)1.500000");
  EXPECT_EQ(printed(TAG_Double(0.1), 0, true), "(double)0.100000");
  EXPECT_EQ(printed(TAG_Byte_Array({1, -1, 0}), 0, true), "(bytearray)[1,-1,0]");
  EXPECT_EQ(printed(TAG_Int_Array({64, 65}), 0, true), "(intarray)[64,65]");
  EXPECT_EQ(printed(TAG_Long_Array(), 0, true), "(longarray)[]");
  EXPECT_EQ(printed(TAG_Long_Array({-1, 5}), 0, false), "[-1,5]");
  EXPECT_EQ(printed(TAG_String("a\"b\\c\nd"), 0, true), "(string)\"a\"b\\c\nd\"");
  EXPECT_EQ(printed(TAG_String(std::string("ab\0cd", 5)), 0, false), "\"ab\"");
  EXPECT_EQ(printed(TAG_End(), 3, true), "");

  TAG_List ends;
  ends.elements.push_back(std::make_unique<TAG_End>());
  ends.elements.push_back(std::make_unique<TAG_End>());
  EXPECT_EQ(printed(ends, 0, true), "(list)[\n  ,\n  \n]");
}

}  // namespace
