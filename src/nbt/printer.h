#pragma once

#include <cstdint>
#include <cstdio>

#include "nbt/tree.h"

namespace nbt {

// Prints a tag and everything below it as indented text: compounds and lists
// open a block whose entries stand on lines of their own, two spaces deeper
// per level; compound entries in the order they are written; strings and
// names up to their first zero byte, unescaped. With `showTypes` each value
// has a label such as "(int)". Ends without a line end.
void printTag(Tag tag, int level, bool showTypes, std::FILE* out);

}  // namespace nbt
