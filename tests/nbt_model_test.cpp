#include <gtest/gtest.h>

#include "support/trees.h"

using namespace nbt;

namespace {

// A destructor that counts, to see that a tree releases every tag once.
int liveCounters = 0;
struct Counted final : TAG {
  Counted() { ++liveCounters; }
  ~Counted() override { --liveCounters; }
  uint8_t getType() const override { return kTagCompound + 100; }
  void print(int32_t, bool) const override {}
  bool write(ByteBuffer&) const override { return true; }
};

TEST(TagModel, LookupsAnswerOnlyForPresentChildrenOfTheAskedClass) {
  auto root = std::make_unique<TAG_Compound>();
  root->children.put("c", std::make_unique<TAG_Compound>());
  root->children.put("s", std::make_unique<TAG_String>("text"));
  root->children.put("i", std::make_unique<TAG_Int>(7));
  root->children.put("l", std::make_unique<TAG_List>());
  root->children.put("Name", std::make_unique<TAG_Int>(1));
  root->children.put("empty", nullptr);

  EXPECT_TRUE(getCompound(root.get(), "c"));
  EXPECT_EQ(getString(root.get(), "c"), nullptr);
  EXPECT_EQ(getString(root.get(), "s")->value, "text");
  EXPECT_EQ(getInt(root.get(), "i")->value, 7);
  EXPECT_EQ(getList(root.get(), "i"), nullptr);
  EXPECT_TRUE(getList(root.get(), "l"));
  EXPECT_EQ(getInt(root.get(), "name"), nullptr);  // case matters
  EXPECT_EQ(getCompound(root.get(), "empty"), nullptr);
  EXPECT_EQ(getCompound(root.get(), "missing"), nullptr);
  EXPECT_EQ(getCompound(nullptr, "c"), nullptr);
  EXPECT_EQ(getString(nullptr, "s"), nullptr);
  EXPECT_EQ(getInt(getCompound(root.get(), "c"), "i"), nullptr);

  TAG_List list;
  list.elementType = kTagCompound;
  list.elements.push_back(std::make_unique<TAG_Compound>());
  list.elements.push_back(nullptr);
  list.elements.push_back(std::make_unique<TAG_String>("x"));
  EXPECT_TRUE(getCompoundAt(&list, 0));
  EXPECT_EQ(getCompoundAt(&list, 1), nullptr);
  EXPECT_EQ(getCompoundAt(&list, 2), nullptr);
  EXPECT_EQ(getCompoundAt(&list, 3), nullptr);
  EXPECT_EQ(getCompoundAt(&list, -1), nullptr);
  EXPECT_EQ(getCompoundAt(nullptr, 0), nullptr);
}

TEST(TagModel, ChildrenAreOrderedByUnsignedBytesWithPrefixFirst) {
  TagMap map = TagMap::fromEntries({});
  for (const char* name : {"x", "id", "ab", "Items", "\x80", "a", "tag", "TileX", "B", ""}) {
    map.put(name, std::make_unique<TAG_Byte>());
  }
  std::vector<std::string> names;
  for (auto& entry : map) names.push_back(entry.first);
  EXPECT_EQ(names, (std::vector<std::string>{"", "B", "Items", "TileX", "a", "ab", "id", "tag", "x", "\x80"}));
  map.put("a", std::make_unique<TAG_Int>(3));
  EXPECT_EQ(map.size(), names.size());
  EXPECT_EQ(map.find("a")->getType(), kTagInt);
}

TEST(TagModel, DestroyingATreeReleasesEveryTagOnce) {
  {
    auto root = std::make_unique<TAG_Compound>();
    auto list = std::make_unique<TAG_List>();
    for (int i = 0; i < 3; ++i) {
      auto element = std::make_unique<TAG_Compound>();
      element->children.put("a", std::make_unique<Counted>());
      element->children.put("b", std::make_unique<Counted>());
      list->elements.push_back(std::move(element));
    }
    list->elements.push_back(nullptr);
    root->children.put("list", std::move(list));
    root->children.put("one", std::make_unique<Counted>());
    root->children.put("one", std::make_unique<Counted>());  // replaces, destroying the first
    EXPECT_EQ(liveCounters, 7);
  }
  EXPECT_EQ(liveCounters, 0);
}

}  // namespace
