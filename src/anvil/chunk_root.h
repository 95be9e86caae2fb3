#pragma once

#include <cstddef>
#include <cstdint>

#include "anvil/status.h"
#include "nbt/tree.h"

namespace anvil {

// Reads the root of one inflated chunk into `tree`. A fault leaves the tree
// holding a root when `hasTree` says so (a root that is no compound, or a
// compound without "Level"). `level` is the root's "Level" compound; with
// `newerLayouts`, for a root without "Level" that holds "block_entities"
// (1.18 and later) or "Entities" (an entity file of 1.17 and later), the root
// itself, which is no fault. `scope` says what of the tree to index (see
// nbt::Tree::read).
RootStatus readChunkRoot(const uint8_t* data, size_t size, nbt::Tree& tree, nbt::Tag& level, bool& hasTree,
                         nbt::IndexScope scope = nullptr, bool newerLayouts = false);

// Reads the root of a file of NBT (a player's file, level.dat): a compound,
// of any name, which it returns in `name`; `end` is where the tree ends.
RootStatus readFileRoot(const uint8_t* data, size_t size, nbt::Tree& tree, std::string& name, size_t& end);

}  // namespace anvil
