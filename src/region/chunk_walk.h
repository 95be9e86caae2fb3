#pragma once

#include <string>
#include <string_view>

#include "books/report.h"
#include "nbt/tree.h"

namespace region {

// Hands every container's items and every framed item of one chunk's "Level"
// to the item inspection; true if any of it repaired a page. `everywhere`:
// also lecterns, glow item frames and every entity's items, in "Level" or in
// what stands for it (a 1.18 chunk's root with "block_entities", an entity
// file's root with "Entities").
bool walkLevel(nbt::Tag level, books::Report& report, bool everywhere = false);

// Inspects the items of an inventory (an entity's, a player's), passing over
// its empty slots (empty compounds); true if a page was repaired.
bool checkSlots(nbt::Tag items, const std::string& location, books::Report& report);

// What of a chunk the walk looks at: the root's entries, "Level"'s entries,
// and all of "TileEntities" and "Entities". A tree read for the walk alone
// need not index the rest (a chunk's sections are most of its tags).
bool walkedByLevel(int depth, std::string_view name);
// The same for a walk everywhere.
bool walkedEverywhere(int depth, std::string_view name);

}  // namespace region
