// The library's C face: the same repair and the same lines as the program.

#include <pagemend.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "app/messages.h"
#include "repair/chunk_repair.h"

namespace {

int kindOf(books::Kind kind) {
  switch (kind) {
    case books::Kind::repaired:
      return PM_REPAIRED;
    case books::Kind::corrupted:
      return PM_CORRUPTED;
    case books::Kind::warning:
      return PM_WARNING;
    default:
      return PM_ERROR;
  }
}

class Handed : public books::Findings {
 public:
  Handed(pm_finding_fn fn, void* user) : fn_(fn), user_(user) {}
  void add(books::Finding&& f) override {
    if (!fn_) return;
    std::string line = app::lineOf(f);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::string where = f.hasPlace ? app::placeText(f.place) : "";
    if (!where.empty() && where[0] == ' ') where.erase(0, 1);
    pm_finding finding;
    finding.kind = kindOf(f.kind);
    finding.title = f.hasTitle ? f.title.c_str() : nullptr;
    finding.page = f.page;
    finding.where = where.c_str();
    finding.line = line.c_str();
    fn_(&finding, user_);
  }

 private:
  pm_finding_fn fn_;
  void* user_;
};

// A player's file's root: what a player's data holds, or level.dat's "Data".
bool looksLikePlayer(const unsigned char* nbt, size_t size) {
  nbt::Tree tree;
  if (size < 3) return false;
  nbt::ByteCursor cursor(nbt, size);
  uint8_t type;
  uint16_t nameLength;
  if (!cursor.readU8(type) || type != nbt::kTagCompound || !cursor.readU16(nameLength) || !cursor.take(nameLength)) {
    return false;
  }
  // The root's entries are all this asks: nothing inside them is indexed.
  if (tree.read(type, cursor, [](int depth, std::string_view) { return depth < 1; }) != nbt::Tree::Read::ok) return false;
  const nbt::Tag root = tree.root();
  return !nbt::getTag(root, "Level") && (nbt::getList(root, "Inventory") || nbt::getList(root, "EnderItems") ||
                                         nbt::getCompound(root, "Data"));
}

int errorOf(const anvil::RootStatus& root) {
  switch (root.fault) {
    case anvil::RootStatus::namedRoot:
      return PM_E_NAMED;
    case anvil::RootStatus::tooManyTags:
      return PM_E_TOO_LARGE;
    case anvil::RootStatus::noLevel:
      return PM_E_NO_LEVEL;
    default:
      return PM_E_TREE;
  }
}

}  // namespace

extern "C" int pm_repair_chunk(const unsigned char* nbt, size_t size, unsigned flags, pm_finding_fn on_finding,
                               void* user, unsigned char** repaired, size_t* repaired_size) {
  if (repaired) *repaired = nullptr;
  if (repaired_size) *repaired_size = 0;
  if (!nbt || !repaired || !repaired_size || (flags & ~(PM_EVERYWHERE | PM_UPGRADE)) != 0) return PM_E_ARGUMENT;
  const repair::Options options{(flags & PM_EVERYWHERE) != 0, (flags & PM_UPGRADE) != 0};
  try {
    Handed handed(on_finding, user);
    repair::ChunkRepair unit;
    ByteBuffer tree;
    const repair::Outcome outcome =
        looksLikePlayer(nbt, size)
            ? unit.player(nbt, size, "the player", "the player in level.dat", options, handed, &tree)
            : unit.chunk(nbt, size, options, handed, &tree);
    if (!outcome.root) return errorOf(outcome.root);
    if (!outcome.repaired) return 0;
    if (outcome.keptTooDeep) return PM_E_TOO_DEEP;
    auto* out = static_cast<unsigned char*>(std::malloc(tree.size() ? tree.size() : 1));
    if (!out) return PM_E_MEMORY;
    std::memcpy(out, tree.data(), tree.size());
    *repaired = out;
    *repaired_size = tree.size();
    return 1;
  } catch (const std::bad_alloc&) {
    return PM_E_MEMORY;
  } catch (...) {
    return PM_E_MEMORY;
  }
}

extern "C" void pm_free(void* p) { std::free(p); }

extern "C" const char* pm_version(void) { return PAGEMEND_VERSION; }
