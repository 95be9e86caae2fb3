#pragma once

#include "books/report.h"
#include "nbt/tree.h"

namespace region {

// Hands every container's items and every framed item of one chunk's "Level"
// to the item inspection; true if any of it repaired a page.
bool walkLevel(nbt::Tag level, books::Report& report);

}  // namespace region
