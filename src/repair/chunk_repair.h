#pragma once

// One chunk's books repaired: given its tree as bytes, the findings and,
// when a page was repaired, the new tree, which reads back. Nothing here
// prints or knows about files; a run, a world run and the library all
// repair through it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "anvil/status.h"
#include "books/finding.h"
#include "nbt/byte_buffer.h"
#include "nbt/tree.h"

namespace repair {

struct Options {
  bool everywhere = false;  // every holder, and a chunk of the newer layouts read as its root
  bool upgrade = false;     // books made to survive being opened by any later version
};

// What repairing one tree came to.
struct Outcome {
  anvil::RootStatus root;    // reading it; a fault: nothing was looked at
  bool hasTree = false;      // the tree was read (also for a root that is no chunk's)
  bool walked = false;       // its books were looked at: it has "Level" (or what stands for it)
  int dataVersion = -1;      // the root's; -1: none (older than 1.9)
  long pagesRepaired = 0;
  // A page was repaired. With `serialised` asked for, it holds the named
  // tree as it is written, unless `keptTooDeep`.
  bool repaired = false;
  // Repaired, but written it would nest deeper or hold more tags than the
  // game reads: to be kept as it was stored.
  bool keptTooDeep = false;
  size_t encodedBound = 0;  // repaired: the most bytes the tree takes written
};

// Repairs trees one after another, keeping its index from one to the next:
// one per thread.
class ChunkRepair {
 public:
  // A chunk's tree: an unnamed compound, whose "Level" (or, everywhere, its
  // root holding the lists of 1.18 and later) holds its items. With
  // `serialised`, a repaired tree is written there.
  Outcome chunk(const uint8_t* data, size_t size, const Options& options, books::Findings& findings,
                ByteBuffer* serialised);

  // A player's file's tree (a compound of any name), its player named
  // `owner` in the findings; or level.dat's, which holds its player in
  // Data.Player, named `levelOwner`. `end` is where the tree ends in `data`.
  Outcome player(const uint8_t* data, size_t size, const std::string& owner, const std::string& levelOwner,
                 const Options& options, books::Findings& findings, ByteBuffer* serialised, size_t* end = nullptr);

  nbt::Tree& tree() { return tree_; }

  // The last tree as it is written (its root named `rootName`), into `out`;
  // false, `out` empty, when it does not read back within the game's limits.
  bool serialise(ByteBuffer& out, const std::string& rootName = "");

 private:
  void write(const std::string& rootName, Outcome& outcome, ByteBuffer* serialised);

  nbt::Tree tree_;
};

// Whether a named tag's bytes read back whole, within the reader's limits.
bool readsBack(const uint8_t* data, size_t size);

}  // namespace repair
