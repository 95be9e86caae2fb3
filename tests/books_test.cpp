// Page texts as JSON and text components, through the table in json.txt.
#include <gtest/gtest.h>

#include <fstream>

#include "books/json.h"
#include "books/text_component.h"
#include "support/region_text.h"

namespace {

using testing_support::ByteVec;

std::string textOf(const std::string& bytes) {
  ByteVec b;
  try {
    b = testing_support::bytesFromText(bytes);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what() << " in " << bytes;
  }
  return std::string(b.begin(), b.end());
}

TEST(Json, PagesAreJudgedAndComponentsMadeAsTheGameDoes) {
  using books::json::Value;
  const char* const kinds[] = {"null", "boolean", "number", "string", "array", "object"};
  const char* const types[] = {"end", "byte", "short", "int", "long", "float", "double", "bytes", "string", "list", "compound"};
  std::ifstream file(std::string(PAGEMEND_SOURCE_DIR) + "/tests/json.txt");
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line.substr(0, 120));
    ++rows;
    const size_t open = line.find(" ( "), close = line.rfind(" )");
    ASSERT_TRUE(open != std::string::npos && close != std::string::npos) << "a row of another form";
    const bool lenient = line.rfind("lenient ", 0) == 0;
    if (lenient || line.rfind("json ", 0) == 0) {
      const size_t word = line.find(' ') + 1;
      const std::string expected = line.substr(word, open - word);
      Value::Kind kind = Value::null;
      const bool json = books::json::parse(textOf(line.substr(open + 3, close - open - 3)), nullptr, &kind,
                                           lenient ? books::json::Mode::lenient : books::json::Mode::strict) !=
                        books::json::Verdict::notJson;
      EXPECT_EQ(json ? kinds[kind] : "not", expected);
      continue;
    }
    const size_t arrow = line.find(" ) -> ");
    ASSERT_NE(arrow, std::string::npos) << "a row of another form";
    books::Encoded made;
    const bool component = books::componentFromJson(textOf(line.substr(open + 3, arrow - open - 3)), 4300, made);
    const std::string result = line.substr(arrow + 6);
    if (result == "none") {
      EXPECT_FALSE(component);
      continue;
    }
    ASSERT_TRUE(component);
    const size_t payload = result.find(" ( ");
    EXPECT_EQ(types[made.type], result.substr(0, payload));
    EXPECT_EQ(ByteVec(made.payload.begin(), made.payload.end()),
              testing_support::bytesFromText(result.substr(payload + 3, result.size() - payload - 5)));
  }
  EXPECT_GT(rows, 50);
}

// The codec's rules by band, and the selector parser's, through the table
// in components.txt.
TEST(Json, ComponentsAreAcceptedOrRefusedAsEachVersionDoes) {
  auto letter = [](books::Acceptance a) {
    return a == books::Acceptance::accepted ? "a" : a == books::Acceptance::refused ? "r" : "?";
  };
  std::ifstream file(std::string(PAGEMEND_SOURCE_DIR) + "/tests/components.txt");
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    ++rows;
    const size_t open = line.find(" ( "), close = line.rfind(" )");
    ASSERT_TRUE(open != std::string::npos && close != std::string::npos) << "a row of another form";
    const std::string text = textOf(line.substr(open + 3, close - open - 3));
    if (line.rfind("selector ", 0) == 0) {
      EXPECT_EQ(letter(books::judgeSelector(text)), line.substr(9, open - 9));
      continue;
    }
    books::json::Value value;
    ASSERT_EQ(books::json::parse(text, &value, nullptr, books::json::Mode::lenient), books::json::Verdict::json);
    std::string verdicts;
    for (int version : {1343, 3839, 4189}) verdicts += std::string(verdicts.empty() ? "" : " ") + letter(books::judgeComponent(value, version));
    EXPECT_EQ(verdicts, line.substr(0, open));
  }
  EXPECT_GT(rows, 60);
}

}  // namespace
