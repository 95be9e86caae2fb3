#pragma once

#include <string>
#include <string_view>

#include "books/inspection.h"
#include "nbt/tree.h"

namespace books {

// Checks one written book's item compound, in whichever layout it is stored
// (its own shape says: "tag" up to 1.20.4, "components" from 1.20.5; the
// DataVersion says whether its pages are JSON or, from 1.21.5, text
// components). Pages the game cannot read as they are become what it reads:
// a JSON string literal of the text, or, from 1.21.5, the text component a
// page holds as JSON. Pages that may be damaged JSON are reported. Returns
// true if at least one page was rewritten.
bool checkWrittenBook(nbt::Tag item, const Spot& spot, Inspection& in);

// Replaces every occurrence of `search` (not empty) left to right, never
// looking into text it has just inserted.
void replaceAll(std::string& text, std::string_view search, std::string_view replacement);

}  // namespace books
