#pragma once

#include <cstdint>
#include <cstdio>

#include "region/region_tables.h"

namespace region {

// The whole run for a command line: load the region named by argv[1], repair
// what can be repaired, rewrite or report. Returns the exit code.
int runPagemend(int argc, char** argv);

// Reads both header tables and handles every slot in slot order. The file
// must be at least kHeaderSize bytes long (fileSize says how long).
void loadRegion(std::FILE* file, int64_t fileSize, RegionTables& tables);

}  // namespace region
