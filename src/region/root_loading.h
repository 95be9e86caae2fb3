#pragma once

#include <cstddef>
#include <cstdint>

#include "books/report.h"
#include "nbt/tree.h"

namespace region {

// Reads the root of one inflated chunk into `tree`, reporting what is wrong
// with it as one "Error: Chunk" line. True when the tree holds a root (even
// one reported as malformed or without "Level"); `level` is then its "Level"
// compound, or none; with `newerLayouts`, for a root without "Level" that
// holds "block_entities" (1.18 and later) or "Entities" (an entity file of
// 1.17 and later), the root itself, and no line.
// `scope` says what of the tree to index (see nbt::Tree::read).
bool loadChunkRoot(int x, int z, const uint8_t* data, size_t size, nbt::Tree& tree, nbt::Tag& level,
                   books::Report& report, nbt::IndexScope scope = nullptr, bool newerLayouts = false);

}  // namespace region
