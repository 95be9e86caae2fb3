// The tag library through its cases: bytes in, whether they are a tree, how
// many bytes it takes, what it writes back and how it prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "nbt/printer.h"
#include "nbt/writer.h"
#include "support/bytes.h"
#include "support/real_regions.h"

using namespace nbt;
using testing_support::Bytes;
using ByteVec = std::vector<uint8_t>;

namespace {

struct Read {
  bool accepted = false;
  size_t consumed = 0;
  ByteVec written;
};

Read readAndWrite(uint8_t type, const ByteVec& bytes, Tree& tree) {
  ByteCursor cursor(bytes.data(), bytes.size());
  Read r;
  r.accepted = tree.read(type, cursor) == Tree::Read::ok;
  r.consumed = cursor.consumed();
  if (r.accepted) writeTag(tree.root(), r.written);
  return r;
}

Bytes nestedLists(int depth) {
  Bytes b;
  for (int i = 1; i < depth; ++i) b.u8(kTagList).u32(1);
  return b.u8(kTagByte).u32(0);
}

Bytes nestedCompounds(int depth) {
  Bytes b;
  for (int i = 1; i < depth; ++i) b.compoundEntry("c");
  for (int i = 0; i < depth; ++i) b.end();
  return b;
}

Bytes manyEndLists() {
  // Each stays under the budget of TAG_End elements; together they pass it.
  Bytes b;
  b.u8(kTagList).u32(64);
  for (int i = 0; i < 64; ++i) b.u8(kTagEnd).u32(kMaxEndElements / 32);
  return b;
}

struct Case {
  const char* what;
  uint8_t type;
  Bytes in;
  bool accepted;
  size_t consumed = 0;  // when accepted
  Bytes written = {};   // when accepted and other than the bytes consumed
};

// Bytes of one named byte entry each, in the order given.
Bytes byteEntries(std::initializer_list<std::pair<const char*, int>> entries) {
  Bytes b;
  for (auto [name, value] : entries) b.named(kTagByte, name).u8(static_cast<unsigned>(value));
  return b.end();
}

const std::string kLongString(65535, 's');

std::vector<Case> cases() {
  return {
      {"compound of one int", kTagCompound, Bytes().intEntry("x", 300).end(), true, 9},
      {"empty compound", kTagCompound, Bytes().end().u8(0xEE), true, 1},
      {"empty list keeps its element type", kTagList, Bytes().u8(10).u32(0), true, 5},
      {"empty list of an unknown type", kTagList, Bytes().u8(77).u32(0), true, 5},
      {"list of three TAG_End", kTagList, Bytes().u8(0).u32(3), true, 5},
      {"empty string", kTagString, Bytes().u16(0), true, 2},
      {"string, then bytes not its own", kTagString, Bytes().str("ABC").u8(0xEE), true, 5},
      {"longest string", kTagString, Bytes().str(kLongString), true, 65537},
      {"name longer than 32767 bytes", kTagCompound, Bytes().intEntry(std::string(40000, 'n'), 5).end(), true,
       40008},
      {"short", kTagShort, Bytes().u16(0xFFFE), true, 2},
      {"long", kTagLong, Bytes().u64(0x8000000000000000ull), true, 8},
      {"signalling NaN float", kTagFloat, Bytes().u32(0x7F800001), true, 4},
      {"negative zero double", kTagDouble, Bytes().u64(0x8000000000000000ull), true, 8},
      {"NaN double with payload", kTagDouble, Bytes().u64(0x7FF8000000000123ull), true, 8},
      {"arrays", kTagCompound,
       Bytes().named(7, "b").u32(2).u8(1).u8(0xFF).named(11, "i").u32(1).u32(0x80000000).named(12, "l").u32(1).u64(9)
           .end(),
       true, 39},
      {"list of ints", kTagList, Bytes().u8(kTagInt).u32(2).u32(1).u32(2), true, 13},
      {"list of strings", kTagList, Bytes().u8(kTagString).u32(2).str("a").str(""), true, 10},
      {"TAG_End takes nothing", kTagEnd, Bytes().u8(1), true, 0},
      {"entries come out sorted, a repeated name once with its last value", kTagCompound,
       byteEntries({{"x", 1}, {"id", 2}, {"ab", 3}, {"Items", 4}, {"\x80", 5}, {"a", 6}, {"tag", 7}, {"TileX", 8},
                    {"B", 9}, {"", 10}, {"id", 11}}),
       true, 68,
       byteEntries({{"", 10}, {"B", 9}, {"Items", 4}, {"TileX", 8}, {"a", 6}, {"ab", 3}, {"id", 11}, {"tag", 7},
                    {"x", 1}, {"\x80", 5}})},
      {"compounds in lists come out sorted too", kTagList,
       Bytes().u8(kTagList).u32(1).u8(kTagCompound).u32(1).raw(byteEntries({{"b", 1}, {"a", 2}}).data()), true, 21,
       Bytes().u8(kTagList).u32(1).u8(kTagCompound).u32(1).raw(byteEntries({{"a", 2}, {"b", 1}}).data())},
      {"512 nested lists", kTagList, nestedLists(512), true, 5 * 511 + 5},
      {"512 nested compounds", kTagCompound, nestedCompounds(512), true, 4 * 511 + 512},

      {"type 13", 13, Bytes().u8(0), false},
      {"type 255", 255, Bytes().u8(0), false},
      {"negative byte array count", kTagByteArray, Bytes().u32(0xFFFFFFFF), false},
      {"negative int array count", kTagIntArray, Bytes().u32(0x80000000), false},
      {"negative list count", kTagList, Bytes().u8(1).u32(0xFFFFFFFE), false},
      {"negative count of TAG_End elements", kTagList, Bytes().u8(0).u32(0xFFFFFFFF), false},
      {"long array past the end", kTagLongArray, Bytes().u32(3).u64(1).u64(2), false},
      {"huge array count over a few bytes", kTagIntArray, Bytes().u32(0x7FFFFFFF).raw(std::string(16, '\0')), false},
      {"huge list count over a few bytes", kTagList, Bytes().u8(kTagCompound).u32(0x7FFFFFFF).raw(std::string(15, '\0')),
       false},
      {"string past the end", kTagString, Bytes().u16(5).raw("abcd"), false},
      {"name past the end", kTagCompound, Bytes().u8(1).u16(9).raw("ab"), false},
      {"compound without its end", kTagCompound, Bytes().intEntry("a", 1), false},
      {"number cut short", kTagLong, Bytes().u32(1), false},
      {"type 13 inside a compound", kTagCompound, Bytes().named(13, "bad").end(), false},
      {"type 200 after a good entry", kTagCompound, Bytes().intEntry("a", 1).named(200, "b").u8(0).end(), false},
      {"list of type 13", kTagList, Bytes().u8(13).u32(2).u8(0).u8(0), false},
      {"list of compounds cut short", kTagList, Bytes().u8(10).u32(2).end(), false},
      {"too many TAG_End elements", kTagList, Bytes().u8(0).u32(kMaxEndElements + 1), false},
      {"too many TAG_End elements in all", kTagList, manyEndLists(), false},
      {"513 nested lists", kTagList, nestedLists(513), false},
      {"513 nested compounds", kTagCompound, nestedCompounds(513), false},
      {"100000 nested compounds", kTagCompound, nestedCompounds(100000), false},
  };
}

TEST(Tags, ReadWhatIsATreeAndWriteItBack) {
  Tree tree;
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.what);
    Read r = readAndWrite(c.type, c.in, tree);
    ASSERT_EQ(r.accepted, c.accepted);
    if (!c.accepted) continue;
    EXPECT_EQ(r.consumed, c.consumed);
    const ByteVec asRead(c.in.data().begin(), c.in.data().begin() + static_cast<long>(r.consumed));
    EXPECT_EQ(r.written, c.written.size() ? c.written.data() : asRead);
    // What was written reads back whole, as the same tree.
    Tree again;
    Read second = readAndWrite(c.type, r.written, again);
    EXPECT_TRUE(second.accepted && second.consumed == r.written.size() && second.written == r.written);
  }
}

TEST(Tags, LookupsAnswerForTheLastEntryOfTheAskedType) {
  Bytes b;
  b.compoundEntry("c").end().stringEntry("s", "text").intEntry("i", 7).listEntry("l", kTagInt, 0);
  b.stringEntry("id", "first").intEntry("id", 42).intEntry("Name", 1).end();
  Tree tree;
  ASSERT_TRUE(readAndWrite(kTagCompound, b, tree).accepted);
  Tag root = tree.root();
  EXPECT_TRUE(getCompound(root, "c"));
  EXPECT_FALSE(getString(root, "c"));
  EXPECT_EQ(getString(root, "s").stringValue(), "text");
  EXPECT_EQ(getInt(root, "i").intValue(), 7);
  EXPECT_FALSE(getList(root, "i"));
  EXPECT_TRUE(getList(root, "l"));
  EXPECT_FALSE(getString(root, "id"));  // the last "id" is an int
  EXPECT_EQ(getInt(root, "id").intValue(), 42);
  EXPECT_FALSE(getInt(root, "name"));  // names are matched exactly
  EXPECT_FALSE(getCompound(Tag(), "c"));
  EXPECT_FALSE(getInt(getString(root, "s"), "i"));  // only compounds have entries
}

TEST(Tags, AReplacedStringIsWrittenWithItsNewValue) {
  const Bytes bytes = Bytes().stringEntry("p", "old").intEntry("n", 1).end();
  Tree tree;
  ASSERT_TRUE(readAndWrite(kTagCompound, bytes, tree).accepted);
  Tag page = getString(tree.root(), "p");
  EXPECT_FALSE(tree.replaceString(page, std::string(kMaxStringBytes + 1, 'x')));
  EXPECT_TRUE(tree.replaceString(page, "\"new\""));
  EXPECT_EQ(page.stringValue(), "\"new\"");
  ByteVec written;
  writeTag(tree.root(), written);
  EXPECT_EQ(written, Bytes().intEntry("n", 1).stringEntry("p", "\"new\"").end().data());
}

std::string printed(uint8_t type, const Bytes& bytes, int level, bool showTypes) {
  Tree tree;
  ByteCursor cursor(bytes.data().data(), bytes.size());
  if (tree.read(type, cursor) != Tree::Read::ok) return "(not a tree)";
  char* text = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  printTag(tree.root(), level, showTypes, out);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

TEST(Tags, PrintOneEntryALineInWrittenOrder) {
  Bytes frame;
  frame.compoundEntry("Level").listEntry("Entities", kTagCompound, 1);
  frame.stringEntry("id", "minecraft:item_frame").intEntry("TileZ", -3).intEntry("TileY", 64).intEntry("TileX", 10);
  frame.end().listEntry("TileEntities", kTagCompound, 0).end().end();
  EXPECT_EQ(printed(kTagCompound, frame, 0, true),
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
  struct Printed {
    uint8_t type;
    Bytes bytes;
    int level;
    bool showTypes;
    const char* text;
  };
  const Printed table[] = {
      {kTagCompound, Bytes().end(), 2, true, "(compound){\n    }"},
      {kTagList, Bytes().u8(kTagCompound).u32(0), 0, false, "[\n]"},
      {kTagList, Bytes().u8(kTagEnd).u32(2), 0, true, "(list)[\n  ,\n  \n]"},
      {kTagList, Bytes().u8(kTagShort).u32(2).u16(1).u16(0xFFFF), 0, false, "[\n  1,\n  -1\n]"},
      {kTagByte, Bytes().u8(0xC8), 0, true, "(byte)-56"},
      {kTagLong, Bytes().u64(0x8000000000000000ull), 0, true, "(long)-9223372036854775808"},
      {kTagFloat, Bytes().u32(0x3FC00000), 0, true, "(float)1.500000"},
      {kTagDouble, Bytes().u64(0x3FB999999999999Aull), 0, true, "(double)0.100000"},
      {kTagByteArray, Bytes().u32(3).u8(1).u8(0xFF).u8(0), 0, true, "(bytearray)[1,-1,0]"},
      {kTagIntArray, Bytes().u32(2).u32(64).u32(65), 0, true, "(intarray)[64,65]"},
      {kTagLongArray, Bytes().u32(0), 0, true, "(longarray)[]"},
      {kTagString, Bytes().str("a\"b\\c\nd"), 0, true, "(string)\"a\"b\\c\nd\""},
      {kTagString, Bytes().str(std::string("ab\0cd", 5)), 0, false, "\"ab\""},
      {kTagEnd, Bytes(), 3, true, ""},
  };
  for (const Printed& p : table) EXPECT_EQ(printed(p.type, p.bytes, p.level, p.showTypes), p.text);
}

TEST(Tags, RealChunksReadWholeAndNoTruncationReads) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  size_t chunks = 0;
  Tree tree;
  for (const char* file : {"anvil112.r.0.0.mca", "anvil116.r.0.0.mca", "1.18.2.r.0.0.mca", "1.14.4.r.0.-1.mca"}) {
    for (const auto& bytes : testing_support::inflatedChunks(dir + "/" + file)) {
      ASSERT_EQ(bytes[0], kTagCompound);
      const ByteVec payload(bytes.begin() + 3, bytes.end());
      Read r = readAndWrite(kTagCompound, payload, tree);
      ASSERT_TRUE(r.accepted && r.consumed == payload.size()) << file;
      Tree again;
      EXPECT_EQ(readAndWrite(kTagCompound, r.written, again).written, r.written);
      ++chunks;
    }
  }
  EXPECT_GT(chunks, 900u);

  // Every cut of a real chunk, each in a buffer of its own size so that the
  // sanitizers see a read past it.
  auto rich = testing_support::inflatedChunks(dir + "/anvil113.r.0.0.mca");
  const ByteVec& smallest = *std::min_element(rich.begin(), rich.end(), [](auto& a, auto& b) { return a.size() < b.size(); });
  for (size_t cut = 3; cut < smallest.size(); ++cut) {
    ByteVec truncated(smallest.begin() + 3, smallest.begin() + static_cast<long>(cut));
    ASSERT_FALSE(readAndWrite(kTagCompound, truncated, tree).accepted) << "cut at " << cut;
  }
}

}  // namespace
