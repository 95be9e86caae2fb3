#pragma once

#include "anvil/region_file.h"
#include "app/console.h"

namespace app {

struct ScanOptions {
  bool zlibOnly = false;    // inflate with zlib alone (to compare with the faster inflater)
  bool everywhere = false;  // look for books in every place a chunk can hold them
  int threads = 0;          // threads that load chunks; 0: one per usable processor, at most two
};

struct ScanResult {
  bool fatal = false;  // zlib's stream state broke: the run must end
  long pagesRepaired = 0;
  long errorLines = 0;  // "Error: " and "ERROR: " lines printed for chunks
  int rootsWithLevel = 0, rootsOfNewerLayout = 0;
};

// Loads every chunk of `file` and finds (and repairs, in memory) its books,
// printing every slot's lines to `out` in slot order, whatever thread loaded
// it; a slot a page of which was repaired is marked `rewritten`. Slots that
// share one stored record load it once. Throws what a thread threw (such as
// std::bad_alloc).
ScanResult scanRegion(anvil::RegionFile& file, const ScanOptions& options, Output& out);

}  // namespace app
