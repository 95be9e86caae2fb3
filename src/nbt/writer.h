#pragma once

#include <cstdint>
#include <string_view>

#include "nbt/byte_buffer.h"
#include "nbt/tree.h"

namespace nbt {

// Appends a string payload or a name: 2-byte length, then the bytes. The
// caller keeps it within kMaxStringBytes.
void writeString(std::string_view value, ByteBuffer& out);

// Appends a tag's payload in the NBT encoding: everything exactly as read,
// except that compound entries come sorted by name with a repeated name once
// (see sortedEntries) and replaced strings carry their new value.
void writeTag(Tag tag, ByteBuffer& out);

// Appends a whole named tag as it stands at the top of a chunk: type id, name, payload.
void writeNamedTag(std::string_view name, Tag tag, ByteBuffer& out);

}  // namespace nbt
