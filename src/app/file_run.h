#pragma once

#include <string>
#include <vector>

#include "app/console.h"
#include "app/mend.h"
#include "app/progress.h"
#include "app/world.h"

namespace app {

// What a run over several files came to, counted from their results.
struct RunTotals {
  size_t files = 0;
  size_t repaired = 0;    // files written (in a check: that would be)
  long pages = 0;         // pages written (in a check: that would be)
  size_t withErrors = 0;  // files that could not be read or written, or had a chunk that could not
  long books = 0;         // written books looked at
  bool repairsDue = false;  // a check found something a rewrite would change
  int code = 0;           // the highest exit code of the files
  bool outputClosed = false;
};

// Runs `files`, `options.jobs` of them side by side, each taking the files
// in their order and using the processors the others leave (a single large
// file uses every one); each file's lines go to `out` as one block (after a
// line "== FILE" when `headers`, and then only for a file with more to say
// than that it needs no repair), in the files' order whatever the number of
// jobs. Memory is bounded by the jobs' chunks, not by the number of files.
// With `stopWhenClosed`, once `out` fails (its reader went away) no file is
// started any more.
RunTotals runFiles(const std::vector<Target>& files, const RunOptions& options, bool headers, bool stopWhenClosed,
                   Output& out, Progress& progress);

}  // namespace app
