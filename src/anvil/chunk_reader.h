#pragma once

#include "anvil/codec.h"
#include "anvil/region_file.h"
#include "anvil/status.h"
#include "nbt/byte_buffer.h"
#include "nbt/tree.h"

namespace anvil {

// Reads a region's chunks one at a time, keeping its buffers and its tree from
// chunk to chunk; one per thread.
uint64_t recordDigest(const ByteBuffer& record);

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
    nbt::Tag level;            // "Level", or what stands for it
  };

  // What reading and decoding one slot's record came to: `data` holds the
  // chunk's tree, until the next call, unless a stage failed.
  struct Decoded {
    RecordStatus record;
    CodecStatus codec;
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  // The file is only read: what the read finds out of the slot is in slot().
  Decoded decode(const RegionFile& file, int n);
  // The slot just decoded loaded without a fault: its extent is its record,
  // and a checksum cut short is carried as the game reads it.
  void settle();
  const SlotRead& slot() const { return slot_; }

  // Reads slot n's record, decodes it and reads its root (see readChunkRoot
  // for the roots that stand for "Level", and `anyRoot`). `scope` says what
  // of the tree to index. The tree stays valid until the next read. The
  // slot takes what the read finds out of it.
  Result read(RegionFile& file, int n, nbt::IndexScope scope, bool anyRoot);

  nbt::Tree& tree() { return tree_; }
  // A digest of the last record read as it is stored: a rewrite tells by it
  // that the record it made its new one from is still the one in the file.
  uint64_t digest() const { return recordDigest(record_); }
  // Gives back the memory of the last chunk, which the tree then no longer has.
  void release() { inflater_.release(); }

 private:
  Inflater inflater_;
  ByteBuffer record_;
  uint8_t compression_ = 0;
  SlotRead slot_;
  nbt::Tree tree_;
};

}  // namespace anvil
