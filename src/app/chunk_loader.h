#pragma once

#include "anvil/chunk_reader.h"
#include "books/report.h"

namespace app {

// Loads a region's chunks one at a time and finds their books: the reader of
// chunks, the lines for what kept one from loading, the walk. One per thread.
class ChunkLoader {
 public:
  // everywhere: look for books in every place a chunk can hold them (see books::walkLevel).
  explicit ChunkLoader(bool zlibOnly = false, bool everywhere = false) : everywhere_(everywhere), reader_(zlibOnly) {}

  struct Result {
    bool hasTree = false;      // tree() holds the chunk's root
    bool repaired = false;     // the walk repaired a page in tree()
    bool fatal = false;        // zlib's stream state broke: the run must end
    bool whole = false;        // it has a "Level" (or, everywhere, what stands for it): its extent is its record
    bool newerLayout = false;  // no "Level": a chunk as Minecraft 1.18 and later save them
    nbt::Tree::ReadResult read;  // how reading its tree came out, where it did not
    size_t encodedBound = 0;     // repaired: the most bytes its tree takes written
  };

  enum class Use {
    findBooks,  // repair books in the tree; index only what the walk looks at
    rewrite,    // the same, with the whole tree indexed, to be written
    show,       // only read the tree, whole
  };

  // Reads slot n's record, inflates it and reads its root, reporting every
  // fault of the slot to `report`, and (but to show it) repairs the books of
  // a chunk that has a "Level". The tree stays valid until the next load.
  Result load(anvil::RegionFile& file, int n, books::Report& report, Use use);

  nbt::Tree& tree() { return reader_.tree(); }
  // Gives back the memory of the last chunk, which the tree then no longer has.
  void release() { reader_.release(); }

 private:
  bool everywhere_;
  anvil::ChunkReader reader_;
};

}  // namespace app
