#pragma once

namespace region {

struct RunOptions {
  bool zlibOnly = false;  // inflate with zlib alone (to compare with the faster inflater)
  int threads = 0;        // threads that load chunks; 0: one per core, at most two
  bool check = false;     // report what would be repaired, write nothing
  bool everywhere = false;  // look for books in every place a chunk can hold them
};

// The whole run for a command line: its options, then each region it names:
// load it, repair what can be repaired, rewrite or report. Returns the exit
// code: the highest of the files' (0 or 1); 2 for a command line in error.
int runPagemend(int argc, char** argv, RunOptions options = {});

// One region file.
int mendRegion(const char* path, const RunOptions& options);

}  // namespace region
