// The stored text of repaired pages, where the binary's output cannot show it.
#include <gtest/gtest.h>

#include "books/book_repair.h"
#include "support/region_builder.h"
#include "support/trees.h"

using namespace nbt;
using namespace testing_support;

namespace {

struct Repaired {
  bool changed;
  std::vector<std::string> pages;
};

Repaired repair(const std::vector<std::string>& pages) {
  TagPtr item = readAll(kTagCompound, writtenBook("T", pages));
  auto* compound = static_cast<TAG_Compound*>(item.get());
  testing::internal::CaptureStdout();
  Repaired result{books::checkWrittenBook(compound, ""), {}};
  testing::internal::GetCapturedStdout();
  for (auto& page : getList(getCompound(compound, "tag"), "pages")->elements) {
    result.pages.push_back(static_cast<TAG_String*>(page.get())->value);
  }
  return result;
}

TEST(PageRepair, PlainTextBecomesAJsonStringLiteral) {
  Repaired r = repair({"a\\\"b", "one\ntwo", "tab\there\r", "", "[x]", "\\n", "caf\xC3\xA9"});
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(r.pages, (std::vector<std::string>{"\"a\\\\\\\"b\"", "\"one\\ntwo\"", "\"tab\there\r\"", "\"\"", "\"[x]\"",
                                               "\"\\\\n\"", "\"caf\xC3\xA9\""}));
}

TEST(PageRepair, JsonPagesAreLeftAlone) {
  Repaired r = repair({"{\"text\":\"a b\"}", "\"quoted\""});
  EXPECT_FALSE(r.changed);
  EXPECT_EQ(r.pages, (std::vector<std::string>{"{\"text\":\"a b\"}", "\"quoted\""}));
  // A repaired page is JSON, so a second pass changes nothing.
  Repaired once = repair({"plain text"});
  EXPECT_FALSE(repair(once.pages).changed);
}

TEST(PageRepair, ReplaceAllNeverLooksIntoWhatItInserted) {
  std::string text = "aaa";
  books::replaceAll(text, "a", "aa");
  EXPECT_EQ(text, "aaaaaa");
  text = "x\\y\\";
  books::replaceAll(text, "\\", "\\\\");
  EXPECT_EQ(text, "x\\\\y\\\\");
  text = "none";
  books::replaceAll(text, "q", "r");
  EXPECT_EQ(text, "none");
}

}  // namespace
