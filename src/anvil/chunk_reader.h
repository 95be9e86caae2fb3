#pragma once

#include "anvil/codec.h"
#include "anvil/region_file.h"
#include "anvil/status.h"
#include "nbt/byte_buffer.h"
#include "nbt/tree.h"

namespace anvil {

// Reads a region's chunks one at a time, keeping its buffers and its tree from
// chunk to chunk; one per thread.
class ChunkReader {
 public:
  explicit ChunkReader(bool zlibOnly = false) : inflater_(zlibOnly) {}

  // What reading one slot came to: the first stage that failed says why.
  struct Result {
    RecordStatus record;  // reading the record
    CodecStatus codec;    // decoding it
    RootStatus root;      // reading its root
    bool hasTree = false;      // tree() holds the chunk's root (also for some root faults)
    bool whole = false;        // it has a "Level" (or what stands for it): its extent is its record
    bool newerLayout = false;  // no "Level": a chunk as Minecraft 1.18 and later save them
    nbt::Tag level;            // "Level", or what stands for it
  };

  // Reads slot n's record, decodes it and reads its root (with
  // `newerLayouts`, a root without "Level" that holds the lists of 1.18 and
  // later, or of an entity file, stands for it). `scope` says what of the
  // tree to index. The tree stays valid until the next read.
  Result read(RegionFile& file, int n, nbt::IndexScope scope, bool newerLayouts);

  nbt::Tree& tree() { return tree_; }
  // Gives back the memory of the last chunk, which the tree then no longer has.
  void release() { inflater_.release(); }

 private:
  Inflater inflater_;
  ByteBuffer record_;
  nbt::Tree tree_;
};

}  // namespace anvil
