#pragma once

#include "app/mend.h"

namespace app {

// The whole run for a command line: its options, then each file it names:
// load it, repair what can be repaired, rewrite or report. Returns the exit
// code: the highest of the files' (0 or 1); 2 for a command line in error.
int runPagemend(int argc, char** argv, RunOptions defaults = {});

}  // namespace app
