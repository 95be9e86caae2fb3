#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/trees.h"

using namespace nbt;
using testing_support::Bytes;
using testing_support::payloadOf;

namespace {

using B = std::vector<uint8_t>;

template <typename T, typename... Args>
B bytesOf(Args&&... args) {
  return payloadOf(T(std::forward<Args>(args)...));
}

TEST(TagWriter, AppendsExactPayloads) {
  EXPECT_EQ(payloadOf(TAG_End()), B{});
  EXPECT_EQ(payloadOf(TAG_Compound()), B{0});
  EXPECT_EQ(bytesOf<TAG_Short>(int16_t{-2}), (B{0xFF, 0xFE}));
  EXPECT_EQ(bytesOf<TAG_Float>(1.0f), (B{0x3F, 0x80, 0, 0}));
  EXPECT_EQ(bytesOf<TAG_Float>(-0.5f), (B{0xBF, 0, 0, 0}));
  EXPECT_EQ(bytesOf<TAG_Double>(1.0), (B{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(bytesOf<TAG_String>(""), (B{0, 0}));
  EXPECT_EQ(bytesOf<TAG_String>("abc"), (B{0, 3, 'a', 'b', 'c'}));
  EXPECT_EQ(bytesOf<TAG_Byte_Array>(std::vector<int8_t>{1, -1}), (B{0, 0, 0, 2, 1, 0xFF}));
  EXPECT_EQ(bytesOf<TAG_Long_Array>(), (B{0, 0, 0, 0}));
  EXPECT_EQ(bytesOf<TAG_Int_Array>(std::vector<int32_t>{-1}), (B{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}));

  TAG_Compound compound;
  compound.children.put("b", std::make_unique<TAG_Byte>(int8_t{1}));
  compound.children.put("a", std::make_unique<TAG_Int>(2));
  EXPECT_EQ(payloadOf(compound), (B{3, 0, 1, 'a', 0, 0, 0, 2, 1, 0, 1, 'b', 1, 0}));

  TAG_List empty;
  empty.elementType = kTagCompound;
  EXPECT_EQ(payloadOf(empty), (B{10, 0, 0, 0, 0}));

  TAG_List ints;
  ints.elementType = kTagInt;
  ints.elements.push_back(std::make_unique<TAG_Int>(1));
  ints.elements.push_back(std::make_unique<TAG_Int>(2));
  EXPECT_EQ(payloadOf(ints), (B{3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2}));

  TAG_List ends;
  for (int i = 0; i < 3; ++i) ends.elements.push_back(std::make_unique<TAG_End>());
  EXPECT_EQ(payloadOf(ends), (B{0, 0, 0, 0, 3}));
}

TEST(TagWriter, SortsNamesAndWritesDuplicatesOnce) {
  Bytes input;
  input.named(1, "a").u8(1).named(1, "B").u8(2).named(1, "ab").u8(3).named(1, "Z").u8(4).named(1, "a").u8(5).end();
  Bytes expected;
  expected.named(1, "B").u8(2).named(1, "Z").u8(4).named(1, "a").u8(5).named(1, "ab").u8(3).end();
  EXPECT_EQ(payloadOf(*testing_support::readAll(kTagCompound, input)), expected.data());
}

TEST(TagWriter, WritesTheRootAsANamedTag) {
  TAG_Compound root;
  root.children.put("x", std::make_unique<TAG_Int>(300));
  ByteBuffer out;
  ASSERT_TRUE(writeNamedTag(kTagCompound, "", root, out));
  EXPECT_EQ(out, (B{10, 0, 0, 3, 0, 1, 'x', 0, 0, 1, 0x2C, 0}));
}

TEST(TagWriter, RefusesTreesItCannotEncode) {
  TAG_String longest(std::string(kMaxStringBytes, 'x'));
  EXPECT_EQ(payloadOf(longest).size(), kMaxStringBytes + 2);

  ByteBuffer out;
  EXPECT_FALSE(TAG_String(std::string(kMaxStringBytes + 1, 'x')).write(out));

  TAG_Compound deep;
  auto list = std::make_unique<TAG_List>();
  list->elementType = kTagString;
  list->elements.push_back(std::make_unique<TAG_String>("fine"));
  list->elements.push_back(std::make_unique<TAG_String>(std::string(70000, 'p')));
  deep.children.put("pages", std::move(list));
  EXPECT_FALSE(deep.write(out));

  TAG_Compound longName;
  longName.children.put(std::string(kMaxStringBytes + 1, 'n'), std::make_unique<TAG_Byte>());
  EXPECT_FALSE(longName.write(out));

  TAG_Compound emptySlot;
  emptySlot.children.put("hole", nullptr);
  EXPECT_FALSE(emptySlot.write(out));
  TAG_List emptyElement;
  emptyElement.elements.push_back(nullptr);
  EXPECT_FALSE(emptyElement.write(out));
}

}  // namespace
