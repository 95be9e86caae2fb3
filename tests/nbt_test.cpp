// The tag library through the table in tags.txt, and real chunks.
#include <gtest/gtest.h>

#include <fstream>

#include "nbt/builder.h"
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

// With `indexing` none, the tree is read whole; with a scope, a write reads
// what it left out as it goes, and must write the same.
Read readAndWrite(uint8_t type, const ByteVec& bytes, IndexScope indexing = nullptr) {
  Tree tree;
  ByteCursor cursor(bytes.data(), bytes.size());
  Read r;
  r.accepted = tree.read(type, cursor, indexing) == Tree::Read::ok;
  r.consumed = cursor.consumed();
  if (r.accepted) writeTag(tree.root(), r.written);
  return r;
}

TEST(Tags, ReadWhatIsATreeAndWriteItBack) {
  const std::vector<std::string> types = {"end",   "byte",   "short", "int",      "long", "float", "double",
                                          "bytes", "string", "list",  "compound", "ints", "longs"};
  std::ifstream file(std::string(PAGEMEND_SOURCE_DIR) + "/tests/tags.txt");
  int rows = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line.substr(0, 120));
    // TYPE ( BYTES ) -> rejected | reads N [writes ( BYTES )]
    const size_t open = line.find(" ( "), arrow = line.find(" ) -> "), writes = line.find(" writes ( ");
    ASSERT_TRUE(open != std::string::npos && arrow != std::string::npos) << "a row of another form";
    const auto known = std::find(types.begin(), types.end(), line.substr(0, open));
    const auto type = static_cast<uint8_t>(known != types.end() ? known - types.begin() : std::stoi(line.substr(0, open)));
    const ByteVec input = testing_support::bytesFromText(line.substr(open + 3, arrow - open - 3));
    const std::string verdict = line.substr(arrow + 6);
    const Read r = readAndWrite(type, input);
    ++rows;
    ASSERT_EQ(r.accepted, verdict != "rejected");
    if (!r.accepted) continue;
    EXPECT_EQ(r.consumed, std::stoul(verdict.substr(6)));
    EXPECT_EQ(r.written, writes != std::string::npos
                             ? testing_support::bytesFromText(line.substr(writes + 10, line.size() - writes - 12))
                             : ByteVec(input.begin(), input.begin() + static_cast<long>(r.consumed)));
    // Read indexing nothing below the root's entries, it writes the same.
    const Read partly = readAndWrite(type, input, [](int depth, std::string_view) { return depth < 1; });
    EXPECT_TRUE(partly.accepted && partly.written == r.written);
    // What was written reads back whole, as the same tree.
    const Read again = readAndWrite(type, r.written);
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

// The builder that the example, benchmarks and fuzz seeds are made with
// writes what the tests' own notation writes.
TEST(Tags, BuilderWritesEveryKindItOffers) {
  ByteVec built;
  Builder(built)
      .beginCompound("")
      .byteTag("b", -1).intTag("i", 300).longTag("l", -2).stringTag("s", "x y")
      .byteArray("ba", {1, -1}).intArray("ia", {7, -7}).longArray("la", {1, -1, 3})
      .beginList("c", kTagCompound).beginCompound().intTag("n", 1).end().beginCompound().end().end()
      .beginList("e", kTagInt).end()
      .end();
  EXPECT_EQ(built, testing_support::bytesFromText(
                       "compound \"\" { byte b -1 int i 300 long l -2 string s \"x y\" bytes ba [ 1 -1 ] ints ia [ 7 -7 ] "
                       "longs la [ 1 -1 3 ] list c compound [ { int n 1 } { } ] list e int [ ] }"));
}

}  // namespace
