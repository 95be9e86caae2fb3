#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "support/bytes.h"
#include "support/real_regions.h"
#include "support/trees.h"

using namespace nbt;
using testing_support::Bytes;
using testing_support::payloadOf;
using testing_support::readAll;
using testing_support::treesEqual;

namespace {

template <typename T>
T* as(const TagPtr& tag) {
  return dynamic_cast<T*>(tag.get());
}

TEST(TagReader, ReadsEachPayloadAndAdvancesPastIt) {
  size_t used = 0;
  Bytes compound;
  compound.intEntry("x", 300).end();
  EXPECT_EQ(compound.data(), (std::vector<uint8_t>{3, 0, 1, 'x', 0, 0, 1, 0x2C, 0}));
  TagPtr tag = readAll(kTagCompound, compound, &used);
  ASSERT_TRUE(as<TAG_Compound>(tag));
  EXPECT_EQ(used, 9u);
  EXPECT_EQ(getInt(as<TAG_Compound>(tag), "x")->value, 300);

  tag = readAll(kTagCompound, Bytes().end(), &used);
  EXPECT_TRUE(as<TAG_Compound>(tag)->children.empty());
  EXPECT_EQ(used, 1u);

  tag = readAll(kTagList, Bytes().u8(10).u32(0), &used);
  EXPECT_EQ(as<TAG_List>(tag)->elementType, 10);
  EXPECT_TRUE(as<TAG_List>(tag)->elements.empty());
  EXPECT_EQ(used, 5u);

  tag = readAll(kTagList, Bytes().u8(0).u32(3), &used);
  ASSERT_EQ(as<TAG_List>(tag)->elements.size(), 3u);
  for (auto& e : as<TAG_List>(tag)->elements) EXPECT_EQ(e->getType(), kTagEnd);
  EXPECT_EQ(used, 5u);

  EXPECT_EQ(as<TAG_String>(readAll(kTagString, Bytes().u16(0), &used))->value, "");
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(as<TAG_String>(readAll(kTagString, Bytes().str("ABC").u8(0xEE), &used))->value, "ABC");
  EXPECT_EQ(used, 5u);

  EXPECT_EQ(as<TAG_Short>(readAll(kTagShort, Bytes().u16(0xFFFE)))->value, -2);
  EXPECT_EQ(as<TAG_Int>(readAll(kTagInt, Bytes().u32(0xFFFFFFFF)))->value, -1);
  EXPECT_EQ(as<TAG_Long>(readAll(kTagLong, Bytes().u64(0x8000000000000000ull)))->value, INT64_MIN);
  EXPECT_EQ(as<TAG_Float>(readAll(kTagFloat, Bytes().u32(0x3F800000)))->value, 1.0f);
  EXPECT_EQ(as<TAG_Double>(readAll(kTagDouble, Bytes().u64(0x3FF0000000000000ull)))->value, 1.0);
  EXPECT_EQ(as<TAG_Long_Array>(readAll(kTagLongArray, Bytes().u32(2).u64(1).u64(~0ull)))->values,
            (std::vector<int64_t>{1, -1}));
  EXPECT_EQ(as<TAG_Int_Array>(readAll(kTagIntArray, Bytes().u32(1).u32(0x80000000)))->values,
            (std::vector<int32_t>{INT32_MIN}));
  EXPECT_EQ(as<TAG_Byte_Array>(readAll(kTagByteArray, Bytes().u32(2).u8(1).u8(0xFF)))->values,
            (std::vector<int8_t>{1, -1}));
}

TEST(TagReader, TypeIdZeroAndAboveTwelveConsumeNothing) {
  Bytes bytes;
  bytes.u8(1).u8(2);
  size_t used = 99;
  EXPECT_EQ(readAll(kTagEnd, bytes, &used)->getType(), kTagEnd);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(readAll(13, bytes, &used), nullptr);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(readAll(255, bytes, &used), nullptr);
  EXPECT_EQ(used, 0u);
}

TEST(TagReader, CompoundOrdersByUnsignedBytesAndKeepsLastDuplicate) {
  Bytes bytes;
  bytes.stringEntry("id", "chest").intEntry("x", 1).named(1, "Items").u8(5).named(1, "tag").u8(6);
  bytes.named(1, "TileX").u8(7).named(1, "\xC3\xA9").u8(8).named(1, "").u8(9).intEntry("id", 42).end();
  TagPtr tag = readAll(kTagCompound, bytes);
  auto* compound = as<TAG_Compound>(tag);
  ASSERT_TRUE(compound);
  std::vector<std::string> names;
  for (auto& entry : compound->children) names.push_back(entry.first);
  EXPECT_EQ(names, (std::vector<std::string>{"", "Items", "TileX", "id", "tag", "x", "\xC3\xA9"}));
  EXPECT_EQ(getString(compound, "id"), nullptr);
  EXPECT_EQ(getInt(compound, "id")->value, 42);
}

TEST(TagReader, FloatsKeepEveryBitPattern) {
  // Signalling NaN with payload, quiet NaN with payload, negative zero, infinity.
  for (uint32_t bits : {0x7F800001u, 0x7FC00001u, 0xFFBFFFFFu, 0x80000000u, 0x7F800000u}) {
    Bytes bytes;
    bytes.u32(bits);
    TagPtr tag = readAll(kTagFloat, bytes);
    EXPECT_EQ(payloadOf(*tag), bytes.data()) << std::hex << bits;
  }
  for (uint64_t bits : {0x7FF0000000000001ull, 0x7FF8000000000123ull, 0x8000000000000000ull, 0xFFF4000000000000ull}) {
    Bytes bytes;
    bytes.u64(bits);
    TagPtr tag = readAll(kTagDouble, bytes);
    EXPECT_EQ(payloadOf(*tag), bytes.data()) << std::hex << bits;
  }
}

TEST(TagReader, StringLengthsAreUnsignedSixteenBit) {
  for (size_t length : {32767u, 32768u, 65535u}) {
    std::string value(length, 'a');
    value[length - 1] = 'z';
    Bytes bytes;
    bytes.str(value);
    size_t used = 0;
    TagPtr tag = readAll(kTagString, bytes, &used);
    ASSERT_TRUE(tag) << length;
    EXPECT_EQ(as<TAG_String>(tag)->value, value);
    EXPECT_EQ(used, length + 2);
    EXPECT_EQ(payloadOf(*tag), bytes.data());
  }
  // A name of 40000 bytes loads too.
  std::string longName(40000, 'n');
  Bytes compound;
  compound.intEntry(longName, 5).end();
  EXPECT_EQ(getInt(as<TAG_Compound>(readAll(kTagCompound, compound)), longName)->value, 5);
}

// Each of these is not a tree: the reader yields nothing.
TEST(TagReader, RejectsMalformedInput) {
  struct Case {
    const char* what;
    uint8_t type;
    Bytes bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"negative byte array count", kTagByteArray, Bytes().u32(0xFFFFFFFF)});
  cases.push_back({"negative int array count", kTagIntArray, Bytes().u32(0x80000000)});
  cases.push_back({"negative list count", kTagList, Bytes().u8(1).u32(0xFFFFFFFE)});
  cases.push_back({"negative count of an empty-type list", kTagList, Bytes().u8(0).u32(0xFFFFFFFF)});
  cases.push_back({"long array count past the end", kTagLongArray, Bytes().u32(3).u64(1).u64(2)});
  cases.push_back({"string past the end", kTagString, Bytes().u16(5).raw("abcd")});
  cases.push_back({"name past the end", kTagCompound, Bytes().u8(1).u16(9).raw("ab")});
  cases.push_back({"compound without its end", kTagCompound, Bytes().intEntry("a", 1)});
  cases.push_back({"scalar cut short", kTagLong, Bytes().u32(1)});
  cases.push_back({"type 13 inside a compound", kTagCompound, Bytes().named(13, "bad").end()});
  cases.push_back({"type 13 after a good entry", kTagCompound, Bytes().intEntry("a", 1).named(200, "b").u8(0).end()});
  cases.push_back({"list of type 13", kTagList, Bytes().u8(13).u32(2).u8(0).u8(0)});
  cases.push_back({"list of compounds cut short", kTagList, Bytes().u8(10).u32(2).end()});
  cases.push_back({"too many end elements", kTagList, Bytes().u8(0).u32(kMaxEndElements + 1)});
  for (const Case& c : cases) {
    EXPECT_EQ(readAll(c.type, c.bytes), nullptr) << c.what;
  }
  // An empty list keeps whatever element type it was written with.
  TagPtr list = readAll(kTagList, Bytes().u8(77).u32(0));
  ASSERT_TRUE(list);
  EXPECT_EQ(as<TAG_List>(list)->elementType, 77);
}

TEST(TagReader, HugeCountsFailFastWithoutAllocating) {
  for (uint8_t type : {kTagByteArray, kTagIntArray, kTagLongArray}) {
    Bytes bytes;
    bytes.u32(0x7FFFFFFF).raw(std::string(16, '\0'));
    EXPECT_EQ(readAll(type, bytes), nullptr) << int(type);
  }
  for (uint8_t element : {kTagByte, kTagString, kTagList, kTagCompound, kTagLongArray}) {
    Bytes bytes;
    bytes.u8(element).u32(0x7FFFFFFF).raw(std::string(15, '\0'));
    EXPECT_EQ(readAll(kTagList, bytes), nullptr) << int(element);
  }
  // TAG_End elements take no bytes, so only the budget per tree bounds them:
  // many lists that each stay under it must not add up past it.
  Bytes nested;
  nested.u8(kTagList).u32(64);
  for (int i = 0; i < 64; ++i) nested.u8(kTagEnd).u32(kMaxEndElements / 32);
  EXPECT_EQ(readAll(kTagList, nested), nullptr);
}

TEST(TagReader, NestingIsLimitedTo512Levels) {
  auto nestedLists = [](int depth) {
    Bytes bytes;
    for (int i = 1; i < depth; ++i) bytes.u8(kTagList).u32(1);
    bytes.u8(kTagByte).u32(0);
    return bytes;
  };
  EXPECT_TRUE(readAll(kTagList, nestedLists(512)));
  EXPECT_EQ(readAll(kTagList, nestedLists(513)), nullptr);

  auto nestedCompounds = [](int depth) {
    Bytes bytes;
    for (int i = 1; i < depth; ++i) bytes.compoundEntry("c");
    for (int i = 0; i < depth; ++i) bytes.end();
    return bytes;
  };
  EXPECT_TRUE(readAll(kTagCompound, nestedCompounds(512)));
  EXPECT_EQ(readAll(kTagCompound, nestedCompounds(513)), nullptr);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(readAll(kTagCompound, nestedCompounds(100000)), nullptr);
  EXPECT_EQ(readAll(kTagList, nestedLists(100000)), nullptr);
  // Not a timing assertion, only a hint in the log if this ever turns slow.
  std::cout << "100000-deep nesting rejected in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s\n";
}

TEST(TagReader, RealChunksRoundTrip) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  size_t chunks = 0;
  for (const char* file : {"anvil112.r.0.0.mca", "anvil116.r.0.0.mca", "1.18.2.r.0.0.mca", "1.14.4.r.0.-1.mca"}) {
    for (const auto& bytes : testing_support::inflatedChunks(dir + "/" + file)) {
      ASSERT_GE(bytes.size(), 3u);
      ASSERT_EQ(bytes[0], kTagCompound);
      ByteCursor cursor(bytes.data(), bytes.size());
      uint8_t type;
      std::string name;
      ASSERT_TRUE(cursor.readU8(type) && readString(cursor, name));
      TagPtr first = readTag(type, cursor);
      ASSERT_TRUE(first) << file;
      std::vector<uint8_t> written = payloadOf(*first);
      ASSERT_FALSE(written.empty());
      TagPtr second = readAll(type, written);
      ASSERT_TRUE(treesEqual(first.get(), second.get())) << file;
      EXPECT_EQ(payloadOf(*second), written);
      ++chunks;
    }
  }
  EXPECT_GT(chunks, 900u);
}

TEST(TagReader, EveryTruncationOfARealChunkYieldsNothing) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  // The smallest chunk of a file rich in block entities keeps this quick.
  auto chunks = testing_support::inflatedChunks(dir + "/anvil113.r.0.0.mca");
  ASSERT_FALSE(chunks.empty());
  const std::vector<uint8_t>* smallest = &chunks[0];
  for (auto& c : chunks) {
    if (c.size() < smallest->size()) smallest = &c;
  }
  const uint8_t* payload = smallest->data() + 3;  // type byte and empty name
  size_t size = smallest->size() - 3;
  {
    ByteCursor whole(payload, size);
    ASSERT_TRUE(readTag(kTagCompound, whole));
  }
  for (size_t cut = 0; cut < size; ++cut) {
    // A copy of exactly `cut` bytes, so the sanitizer sees any read past it.
    std::vector<uint8_t> truncated(payload, payload + cut);
    ByteCursor cursor(truncated.data(), truncated.size());
    ASSERT_EQ(readTag(kTagCompound, cursor), nullptr) << "cut at " << cut << " of " << size;
  }
}

}  // namespace
