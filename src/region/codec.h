#pragma once

#include <cstddef>

#include "nbt/byte_buffer.h"

namespace region {

// No chunk the game writes comes near this; a record that inflates past it is
// refused rather than allowed to take the machine's memory (a zlib "bomb").
constexpr size_t kMaxChunkBytes = size_t{256} << 20;

enum class Inflated { ok, failed, tooLarge };

// Inflates one zlib stream (as stored in region files) into `output`, which
// is emptied first. Bytes after the end of the stream are ignored. On failure
// prints one "ERROR: " line and answers `failed`; past kMaxChunkBytes it
// stops, prints nothing and answers `tooLarge`. `output` may then hold part
// of the data. A zlib stream error ends the process (see endRunAtOnce).
Inflated inflateChunk(const ByteBuffer& input, ByteBuffer& output);

// Compresses `input` into `output` as one complete zlib stream at the default
// level. On failure prints one "ERROR: " line and returns false.
bool deflateChunk(const ByteBuffer& input, ByteBuffer& output);

// Ends the process with exit code 1 after running the cleanup set with
// onEndAtOnce (so a half-written output never outlives the run).
[[noreturn]] void endRunAtOnce();
void onEndAtOnce(void (*cleanup)());

}  // namespace region
