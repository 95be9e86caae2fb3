// The stored text of repaired pages, where the binary's output cannot show it.
#include <gtest/gtest.h>

#include "books/book_repair.h"
#include "support/region_builder.h"

using namespace nbt;
using namespace testing_support;

namespace {

struct Lines : books::Report {
  std::string text;
  void add(books::Finding, const std::string& line) override { text += line; }
};

struct Repaired {
  bool changed;
  std::vector<std::string> pages;
};

Repaired repair(const std::vector<std::string>& pages) {
  const Bytes book = writtenBook("T", pages);
  Tree tree;
  ByteCursor cursor(book.data().data(), book.size());
  EXPECT_EQ(tree.read(kTagCompound, cursor), Tree::Read::ok);
  Lines lines;
  Repaired result{books::checkWrittenBook(tree.root(), "", lines), {}};
  for (Tag page = getList(getCompound(tree.root(), "tag"), "pages").firstChild(); page; page = page.nextSibling()) {
    result.pages.emplace_back(page.stringValue());
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
