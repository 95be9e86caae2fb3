#include "repair/chunk_repair.h"

#include <utility>

#include "anvil/chunk_root.h"
#include "books/inspection.h"
#include "books/places.h"
#include "nbt/writer.h"

namespace repair {

namespace {

using books::Finding;
using books::Kind;

// Passes findings on, counting the pages repaired.
class Counted : public books::Findings {
 public:
  explicit Counted(books::Findings& to) : to_(to) {}
  void add(Finding&& finding) override {
    if (finding.kind == Kind::repaired && finding.subject == books::Subject::pageRepaired) ++pages;
    to_.add(std::move(finding));
  }
  void bookExamined() override { to_.bookExamined(); }
  long pages = 0;

 private:
  books::Findings& to_;
};

int versionOf(nbt::Tag compound) {
  const nbt::Tag version = nbt::getNumber(compound, "DataVersion");
  return version ? version.numberAsInt() : -1;
}

}  // namespace

bool readsBack(const uint8_t* data, size_t size) {
  nbt::ByteCursor cursor(data, size);
  uint8_t type;
  uint16_t nameLength;
  if (!cursor.readU8(type) || !cursor.readU16(nameLength) || !cursor.take(nameLength)) return false;
  nbt::Tree tree;
  return tree.read(type, cursor, [](int, std::string_view) { return false; }) == nbt::Tree::Read::ok;
}

bool ChunkRepair::serialise(ByteBuffer& out, const std::string& rootName) {
  nbt::Tag root = tree_.root();
  out.clear();
  // Reserved whole: growing it step by step would hold two copies at once.
  out.reserve(3 + rootName.size() + root.payloadSize() + tree_.growth());
  nbt::writeNamedTag(rootName, root, out);
  // What is written must load as the game loads it, whatever the repair did.
  if (readsBack(out.data(), out.size())) return true;
  out.clear();
  return false;
}

void ChunkRepair::write(const std::string& rootName, Outcome& outcome, ByteBuffer* serialised) {
  outcome.encodedBound = 3 + rootName.size() + tree_.root().payloadSize() + tree_.growth();
  if (serialised) outcome.keptTooDeep = !serialise(*serialised, rootName);
}

Outcome ChunkRepair::chunk(const uint8_t* data, size_t size, const Options& options, books::Findings& findings,
                           ByteBuffer* serialised) {
  Outcome outcome;
  nbt::Tag level;
  outcome.root = anvil::readChunkRoot(data, size, tree_, level, outcome.hasTree, books::scopeOfWalk(),
                                      options.everywhere);
  if (outcome.hasTree) outcome.dataVersion = versionOf(tree_.root());
  if (!level) return outcome;
  outcome.walked = true;
  Counted counted(findings);
  books::Inspection inspection(counted, tree_.root(), options.everywhere, options.upgrade);
  outcome.repaired = books::walkLevel(level, inspection);
  outcome.pagesRepaired = counted.pages;
  if (outcome.repaired) write("", outcome, serialised);
  return outcome;
}

Outcome ChunkRepair::player(const uint8_t* data, size_t size, const std::string& owner,
                            const std::string& levelOwner, const Options& options, books::Findings& findings,
                            ByteBuffer* serialised,
                            size_t* end) {
  Outcome outcome;
  std::string name;
  size_t treeEnd = 0;
  outcome.root = anvil::readFileRoot(data, size, tree_, name, treeEnd);
  if (end) *end = treeEnd;
  if (!outcome.root) return outcome;
  outcome.hasTree = outcome.walked = true;
  nbt::Tag root = tree_.root();
  // level.dat holds the player of a world played alone under Data.
  nbt::Tag player = root;
  const nbt::Tag level = nbt::getCompound(root, "Data");
  if (level) player = nbt::getCompound(level, "Player");
  // Each player's data says its own version (players are upgraded when they
  // join); level.dat's player may say only the world's.
  const nbt::Tag versioned = nbt::getNumber(player, "DataVersion") ? player : nbt::getCompound(root, "Data");
  outcome.dataVersion = versionOf(versioned);
  Counted counted(findings);
  books::Inspection inspection(counted, versioned, true, options.upgrade);
  outcome.repaired = books::walkPlayer(player, level ? levelOwner : owner, inspection);
  outcome.pagesRepaired = counted.pages;
  if (outcome.repaired) write(name, outcome, serialised);
  return outcome;
}

}  // namespace repair
