#pragma once

#include "app/console.h"
#include "app/rewrite.h"
#include "app/slot_scan.h"

namespace app {

class ChunkLoader;
class SpareProcessors;

struct RunOptions {
  bool zlibOnly = false;    // inflate with zlib alone (to compare with the faster inflater)
  int threads = 0;          // threads that load chunks; 0: one per usable processor, at most two
  bool check = false;       // report what would be repaired, write nothing
  bool everywhere = false;  // look for books in every place a chunk can hold them
  bool upgrade = false;     // books made to survive being opened by any later version
  bool json = false;        // findings and results as JSON objects, one a line
  bool quiet = false;       // one of many files: nothing said of it when it needs no repair
  int jobs = 0;             // files run side by side; 0: one per usable processor
  size_t recordBudget = ScanOptions::kRecordBudget;  // see ScanOptions
  SpareProcessors* spare = nullptr;  // see ScanOptions
  ChunkLoader* loader = nullptr;     // see ScanOptions
};

// What became of one file.
struct FileResult {
  int code = 0;            // its exit code: 0, or 1 when it could not be read or written (it is left as it was)
  long pagesRepaired = 0;  // (in a check: that would be)
  long pagesWritten = 0;   // of those, the pages of what was written (a region, chunks' own files)
  long books = 0;          // written books looked at
  bool repairsDue = false;  // a check found something a rewrite would change
  bool errors = false;     // an "Error: " or "ERROR: " line was printed for it
};

// The whole run for one region file: load it, repair what can be repaired,
// rewrite or report, every line to `out`. A rewrite writes the chunks read
// from their own files back there.
// A repair is given to every other name of the file the run found (see Names).
FileResult mendRegion(const char* path, const RunOptions& options, Output& out, const Names& otherNames = {});

// The whole run for a chunk's own file (c.X.Z.mcc), with `everywhere`: the
// chunk is read through the stub of its region beside it (r.X.Z.mca) and
// written back to its own file; without, it is refused.
FileResult mendChunkFile(const char* path, const RunOptions& options, Output& out, const Names& otherNames = {});

// The whole run for a file of gzip-compressed NBT (a player's file, or
// level.dat): repairs the books of the player (of Data.Player in level.dat),
// and writes the file back, gzip-compressed, with a region's care.
FileResult mendPlayerFile(const char* path, const RunOptions& options, Output& out, const Names& otherNames = {});

// Whether `path` names such a file (its name ends in ".dat").
bool isPlayerFile(const char* path);

}  // namespace app
