#pragma once

#include <cstdint>
#include <string>

#include "nbt/byte_cursor.h"
#include "nbt/tag.h"

namespace nbt {

// Nesting of lists and compounds allowed below one root, as the game allows.
constexpr int kMaxDepth = 512;
// A TAG_End element takes no bytes in the encoding, so lists of them cannot be
// bounded by the input's size; this caps how many one tree may hold.
constexpr uint32_t kMaxEndElements = 1u << 16;

// Reads the payload of a tag of the given type (the caller has consumed the
// type id and the name). Returns null when the type id is above 12 (consuming
// nothing), and also when the payload is not a complete tree: it runs past the
// end of the cursor, holds a negative count, a type id above 12 inside it,
// nesting deeper than kMaxDepth, or too many TAG_End elements. A tree it
// returns never holds an empty slot.
TagPtr readTag(uint8_t type, ByteCursor& cursor);

// Reads a string payload or a name: an unsigned 16-bit length (the game
// writes and reads it as unsigned, so 32768..65535 are valid), then the bytes.
bool readString(ByteCursor& cursor, std::string& out);

}  // namespace nbt
