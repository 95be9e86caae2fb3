#pragma once

#include <initializer_list>
#include <string_view>

#include "books/inspection.h"
#include "nbt/tree.h"

namespace books {

// Inspects every element of an "Items" list; true if any page anywhere below
// it, in containers to any depth, was rewritten.
bool checkContainedItems(nbt::Tag items, const Spot& spot, Inspection& in);

// Inspects one item whose id is already known: written books are checked and
// repaired, shulker boxes (and, from 1.20.5, any item with a container or a
// bundle's contents) opened, everything else passed over; with
// `in.everywhere`, items that lie anywhere else inside it are inspected too.
bool checkContainedItem(nbt::Tag item, std::string_view id, const Spot& spot, Inspection& in);

// Inspects one item that lies alone (on a lectern, on the ground, in a
// hand): one without an id gets a warning.
bool checkItem(nbt::Tag item, const Spot& spot, Inspection& in);

// Inspects the items of an inventory (an entity's, a player's), passing over
// its empty slots (empty compounds).
bool checkSlots(nbt::Tag items, const Spot& spot, Inspection& in);

// Inspects every item (a compound with an "id" and a "count" or "Count")
// that lies anywhere below `holder`, but in its entries named in `skip`
// (places inspected on their own), all said to lie at `spot`.
bool searchItems(nbt::Tag holder, std::initializer_list<std::string_view> skip, const Spot& spot, Inspection& in);

}  // namespace books
