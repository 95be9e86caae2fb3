#pragma once

#include <string>

#include "nbt/tag.h"

namespace books {

// Inspects every element of an "Items" list; true if any page anywhere below
// it, in shulker boxes to any depth, was rewritten.
bool checkContainedItems(nbt::TAG_List* items, const std::string& location);

// Inspects one item whose id is already known: written books are checked and
// repaired, shulker boxes opened, everything else passed over.
bool checkContainedItem(nbt::TAG_Compound* item, const std::string& id, const std::string& location);

}  // namespace books
