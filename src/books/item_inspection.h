#pragma once

#include <string>
#include <string_view>

#include "books/report.h"
#include "nbt/tree.h"

namespace books {

// Inspects every element of an "Items" list; true if any page anywhere below
// it, in shulker boxes to any depth, was rewritten.
bool checkContainedItems(nbt::Tag items, const std::string& location, Report& report);

// Inspects one item whose id is already known: written books are checked and
// repaired, shulker boxes opened, everything else passed over.
bool checkContainedItem(nbt::Tag item, std::string_view id, const std::string& location, Report& report);

}  // namespace books
