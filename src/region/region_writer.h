#pragma once

#include <cstdio>

#include "region/region_tables.h"

namespace region {

// Writes a complete new region to `path` from `tables`: every held tree
// serialised and compressed afresh, every other stored record copied from
// `original` (the still-open input; may be null when every stored slot holds
// a tree) exactly as it was read. The new file is
// written beside the target under a temporary name, flushed to disk, and
// renamed over it, so the region at `path` is at every moment either the old
// file or the whole new one. Returns the exit code: 0 when the file was
// replaced, 1 (after one "Error: " line) when it was left untouched.
int writeRegion(const char* path, const RegionTables& tables, std::FILE* original);

// Leftovers of runs killed while writing are named
// ".<region file name>.pagemend-<process id>.tmp"; this is that name's prefix.
constexpr const char* kTemporaryInfix = ".pagemend-";
constexpr const char* kTemporarySuffix = ".tmp";

}  // namespace region
