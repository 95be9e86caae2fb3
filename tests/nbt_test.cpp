// The tag library through the table in tags.txt, and real chunks.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "nbt/writer.h"
#include "support/run.h"

using namespace nbt;
using testing_support::ByteVec;

namespace {

struct Read {
  bool accepted = false;
  size_t consumed = 0;
  ByteVec written;
};

Read readAndWrite(uint8_t type, const ByteVec& bytes) {
  Tree tree;
  ByteCursor cursor(bytes.data(), bytes.size());
  Read r;
  r.accepted = tree.read(type, cursor) == Tree::Read::ok;
  r.consumed = cursor.consumed();
  if (r.accepted) writeTag(tree.root(), r.written);
  return r;
}

// The bytes between the first "(" and its matching ")" of `text`, from `at`.
ByteVec group(const std::string& text, size_t& at) {
  const size_t open = text.find('(', at);
  size_t close = open;
  for (int depth = 0; close < text.size(); ++close) {
    depth += text[close] == '(' ? 1 : text[close] == ')' ? -1 : 0;
    if (depth == 0) break;
  }
  at = close + 1;
  return testing_support::bytesFromText(text.substr(open + 1, close - open - 1));
}

TEST(Tags, ReadWhatIsATreeAndWriteItBack) {
  const char* const types[] = {"end", "byte", "short", "int", "long", "float", "double",
                               "bytes", "string", "list", "compound", "ints", "longs"};
  std::ifstream file(std::string(PAGEMEND_SOURCE_DIR) + "/tests/tags.txt");
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line.substr(0, 120));
    std::istringstream head(line);
    std::string typeWord;
    head >> typeWord;
    int type = static_cast<int>(std::find(std::begin(types), std::end(types), typeWord) - std::begin(types));
    if (type == 13) type = std::stoi(typeWord);
    size_t at = 0;
    const ByteVec input = group(line, at);
    std::istringstream verdict(line.substr(line.find("->", at) + 2));
    std::string word;
    size_t consumed = 0;
    verdict >> word >> consumed;
    const Read r = readAndWrite(static_cast<uint8_t>(type), input);
    ++rows;
    ASSERT_EQ(r.accepted, word == "reads");
    if (!r.accepted) continue;
    EXPECT_EQ(r.consumed, consumed);
    const bool other = line.find("writes", at) != std::string::npos;
    EXPECT_EQ(r.written, other ? group(line, at) : ByteVec(input.begin(), input.begin() + static_cast<long>(consumed)));
    // What was written reads back whole, as the same tree.
    const Read again = readAndWrite(static_cast<uint8_t>(type), r.written);
    EXPECT_TRUE(again.accepted && again.consumed == r.written.size() && again.written == r.written);
  }
  EXPECT_GT(rows, 40);
}

// The chunks of a region file that inflate.
std::vector<ByteVec> inflatedChunks(const std::string& path) {
  const ByteVec file = testing_support::readFile(path);
  std::vector<ByteVec> chunks;
  for (int n = 0; n < 1024; ++n) {
    const ByteVec record = testing_support::recordAt(file, n);
    if (record.size() < 6 || record[4] != 2) continue;
    ByteVec chunk = testing_support::zlibInflate(ByteVec(record.begin() + 5, record.end()));
    if (chunk.size() >= 3) chunks.push_back(std::move(chunk));
  }
  return chunks;
}

TEST(Tags, RealChunksReadWholeAndNoTruncationReads) {
  SKIP_WITHOUT_REAL_REGIONS(dir);
  size_t chunks = 0;
  for (const char* name : {"anvil112.r.0.0.mca", "anvil116.r.0.0.mca", "1.18.2.r.0.0.mca", "1.14.4.r.0.-1.mca"}) {
    for (const auto& bytes : inflatedChunks(dir + "/" + name)) {
      const ByteVec payload(bytes.begin() + 3, bytes.end());
      const Read r = readAndWrite(bytes[0], payload);
      ASSERT_TRUE(r.accepted && r.consumed == payload.size()) << name;
      EXPECT_EQ(readAndWrite(bytes[0], r.written).written, r.written);
      ++chunks;
    }
  }
  EXPECT_GT(chunks, 900u);
  // Every cut of a real chunk, each in a buffer of its own size so that the
  // sanitizers see a read past it.
  auto rich = inflatedChunks(dir + "/anvil113.r.0.0.mca");
  const ByteVec& smallest = *std::min_element(rich.begin(), rich.end(), [](auto& a, auto& b) { return a.size() < b.size(); });
  for (size_t cut = 3; cut < smallest.size(); ++cut) {
    ASSERT_FALSE(readAndWrite(kTagCompound, ByteVec(smallest.begin() + 3, smallest.begin() + static_cast<long>(cut))).accepted)
        << "cut at " << cut;
  }
}

}  // namespace
