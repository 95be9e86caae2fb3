#pragma once

#include <cstdint>
#include <string_view>

#include "nbt/tag.h"

namespace nbt {

// The largest string or name the encoding can describe: its length field is
// an unsigned 16-bit number.
constexpr size_t kMaxStringBytes = 65535;

// Appends a string payload or a name (2-byte length, then the bytes); false
// for a string too long to describe, which is then left out entirely.
bool writeString(std::string_view value, ByteBuffer& out);

// Appends a whole named tag as it stands at the top of a chunk: type id, name,
// payload. False when the tree has no encoding (see TAG::write).
bool writeNamedTag(uint8_t type, std::string_view name, const TAG& tag, ByteBuffer& out);

}  // namespace nbt
