#pragma once

#include <string>
#include <string_view>

#include "books/report.h"
#include "nbt/tree.h"

namespace books {

// Checks one written book's item compound. Plain-text pages become JSON string
// literals in the tree; pages that start like JSON are left alone, and are
// reported as possibly corrupted when no page of the book holds a space.
// Returns true if at least one page was rewritten.
bool checkWrittenBook(nbt::Tag item, const std::string& location, Report& report);

// Replaces every occurrence of `search` (not empty) left to right, never
// looking into text it has just inserted.
void replaceAll(std::string& text, std::string_view search, std::string_view replacement);

}  // namespace books
