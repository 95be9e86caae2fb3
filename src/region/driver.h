#pragma once

#include <cstdint>
#include <cstdio>

#include "region/region_tables.h"

namespace region {

enum class TreeRelease {
  atEnd,        // destroy every tree before returning (for callers that go on running)
  withProcess,  // leave them to the operating system, which takes them back at once
};

// The whole run for a command line: load the region named by argv[1], repair
// what can be repaired, rewrite or report. Returns the exit code.
int runPagemend(int argc, char** argv, TreeRelease release = TreeRelease::atEnd);

// Reads both header tables and handles every slot in slot order. The file
// must be at least kHeaderSize bytes long (fileSize says how long). With
// `walk` false the trees are only loaded, not searched for books (for tools
// that show a region as it is stored).
void loadRegion(std::FILE* file, int64_t fileSize, RegionTables& tables, bool walk = true);

}  // namespace region
