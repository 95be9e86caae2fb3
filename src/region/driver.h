#pragma once

namespace region {

struct RunOptions {
  bool zlibOnly = false;  // inflate with zlib alone (to compare with the faster inflater)
  int threads = 0;        // threads that load chunks; 0: one per core, at most two
};

// The whole run for a command line: load the region named by argv[1], repair
// what can be repaired, rewrite or report. Returns the exit code.
int runPagemend(int argc, char** argv, const RunOptions& options = {});

}  // namespace region
