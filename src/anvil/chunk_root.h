#pragma once

#include <cstddef>
#include <cstdint>

#include "anvil/status.h"
#include "nbt/tree.h"

namespace anvil {

// Reads the root of one inflated chunk into `tree`. A fault leaves the tree
// holding a root when `hasTree` says so (a root that is no compound, or a
// compound without "Level"). `level` is the root's "Level" compound; for a
// root without one, the root itself, which is no fault, when it is a chunk
// of 1.18 and later (DataVersion kRootLayoutFrom on: "block_entities" at the
// root) or an entity chunk (kEntityChunksFrom on, "Entities" at the root); with
// `anyRoot`, also any root that holds either list, whatever it says of its
// version. `scope` says what of the tree to index (see nbt::Tree::read).
RootStatus readChunkRoot(const uint8_t* data, size_t size, nbt::Tree& tree, nbt::Tag& level, bool& hasTree,
                         nbt::IndexScope scope = nullptr, bool anyRoot = false);

constexpr int kRootLayoutFrom = 2844;    // 1.18's snapshot 21w43a moved what "Level" held to the root
constexpr int kEntityChunksFrom = 2681;  // 1.17's snapshot 20w45a put entities in files of their own

// Reads the root of a file of NBT (a player's file, level.dat): a compound,
// of any name, which it returns in `name`; `end` is where the tree ends.
RootStatus readFileRoot(const uint8_t* data, size_t size, nbt::Tree& tree, std::string& name, size_t& end);

}  // namespace anvil
