#pragma once

#include <cstdint>
#include <vector>

// Growable bytes: compressed and decompressed chunks, serialised trees.
using ByteBuffer = std::vector<uint8_t>;
