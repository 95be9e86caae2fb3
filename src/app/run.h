#pragma once

#include "app/mend.h"

namespace app {

// The whole run for pagemend's command line: its options, then each path it
// names, a file or a world's folder. Returns the exit code: the highest of
// the files' (0 or 1; 1 also for a world's folder that could not be read);
// 2 for a command line in error; 141 when, in a run over a world, the output
// was closed before the end (as for a program the closed pipe ended).
int runPagemend(int argc, char** argv, RunOptions defaults = {});

// The same for pagemend-world's: every path a world's folder, every mistake
// on the command line exit code 1, as its scripts have long expected.
int runPagemendWorld(int argc, char** argv, RunOptions defaults = {});

}  // namespace app
