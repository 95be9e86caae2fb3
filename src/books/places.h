#pragma once

// Where items lie in a chunk, an entity file or a player's file, and what of
// such a tree the search for books needs indexed.

#include <string>
#include <string_view>

#include "books/inspection.h"
#include "nbt/tree.h"

namespace books {

// Hands every container's items and every framed item of one chunk's "Level"
// (or of what stands for it: a 1.18 chunk's root with "block_entities", an
// entity chunk's root with "Entities") to the item inspection; true if any
// of it repaired a page. With `in.everywhere`, every item below every block
// entity and entity (lecterns, glow item frames, minecarts, animals,
// villagers' trades, equipment...).
bool walkLevel(nbt::Tag level, Inspection& in);

// The same for a player (a player's file, or level.dat's Data.Player):
// their inventory, ender chest, equipment and the vehicle they rode.
// `owner` names them: "player <uuid>" or "the player in level.dat".
bool walkPlayer(nbt::Tag player, const std::string& owner, Inspection& in);

// What of a chunk the walk looks at: the root's and
// "Level"'s entries, and all of the lists that hold block entities and
// entities. A tree read for the walk alone need not index the rest (a
// chunk's sections are most of its tags), and a tree read whole, to be
// written, finds the same.
nbt::IndexScope scopeOfWalk();

}  // namespace books
