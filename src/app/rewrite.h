#pragma once

#include <functional>
#include <string>
#include <vector>

#include "anvil/region_file.h"
#include "anvil/region_writer.h"
#include "app/console.h"
#include "nbt/byte_buffer.h"

namespace app {

// Other names of a file (hard links) that a run found: once the file is
// replaced, each is made a name of the new file; the old file's names the
// run does not know keep it, and a warning says how many there are.
using Names = std::vector<std::string>;

// Writes a region to `path` with every care (see fsio/replacement.h): the
// new region laid out by anvil::writeRegion into a file beside it, and the
// chunks too large for a record into files of their own beside it (when the
// region is named r.X.Z.mca), each flushed; `changed`, which says why, is
// asked first and just before anything is renamed; the chunks' files are put
// in place once the region is written whole, and taken back if the region
// then cannot be. Returns the exit code: 0 when the region was replaced (or
// nothing repaired was to be written after all: then it is not), 1 (after
// one line) when it and every other file were left as they were, or one of
// its other names could not be given the new file.
int writeRegionFile(const char* path, anvil::RegionFile& original, anvil::RecordSource& source, Output& out,
                    const std::function<bool()>& changed = [] { return false; }, const Names& otherNames = {});

// Replaces the file at `path` (open as `originalFd`) by one holding `bytes`,
// with the same care. Returns the exit code.
int replaceWithBytes(const char* path, int originalFd, const std::function<bool()>& changed, const ByteBuffer& bytes,
                     Output& out, const Names& otherNames = {});

}  // namespace app
