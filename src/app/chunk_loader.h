#pragma once

#include "anvil/chunk_reader.h"
#include "books/finding.h"
#include "nbt/byte_buffer.h"
#include "repair/chunk_repair.h"

namespace app {

// Loads a region's chunks one at a time, repairs their books and makes the
// new record of a repaired one: the reader of chunks, the findings of what
// kept one from loading, the repair. One per thread.
class ChunkLoader {
 public:
  // everywhere: look for books in every place a chunk can hold them (see books::walkLevel).
  // upgrade: books made to survive being opened by any later version (see books::Inspection).
  explicit ChunkLoader(bool zlibOnly = false, bool everywhere = false, bool upgrade = false)
      : everywhere_(everywhere), upgrade_(upgrade), reader_(zlibOnly) {}

  struct Result {
    bool hasTree = false;      // tree() holds the chunk's root
    bool repaired = false;     // a page was repaired in tree()
    bool fatal = false;        // zlib's stream state broke: the run must end
    bool whole = false;        // it has a "Level" (or, everywhere, what stands for it): its extent is its record
    bool made = false;         // record() holds its new record
    // Repaired, but to be kept as it was stored: keptTooDeep, or
    // keptUncompressed (`compressed` says how compressing it failed); or
    // pageRepaired: not kept.
    books::Subject kept = books::Subject::pageRepaired;
    anvil::CodecStatus compressed;
    anvil::SlotRead slot;  // what reading it found out of the slot
    uint64_t digest = 0;  // repaired: of its stored record (see ChunkReader::digest)
    int dataVersion = -1;      // -1: none
    nbt::Tree::ReadResult read;  // how reading its tree came out, where it did not
    size_t encodedBound = 0;     // repaired: the most bytes its tree takes written
  };

  enum class Use {
    check,    // repair books in the tree; make the record only of a chunk that may need more sectors than a record has
    rewrite,  // the same, making the new record of every repaired chunk but one far larger than the game writes
    remake,   // the same, making the new record of every repaired chunk, whatever its size
    show,     // only read the tree, whole
  };

  // Reads slot n's record, decodes it and reads its root, reporting every
  // fault of the slot (as findings about the slot's chunk), and (but to show
  // it) repairs the books of a chunk that has a "Level". The tree and the
  // record stay valid until the next load.
  // The slot takes what was found out of it (see anvil::SlotRead).
  Result load(anvil::RegionFile& file, int n, books::Findings& findings, Use use);
  // The same for a file that threads share, which is only read: what was
  // found out of the slot is in the result. (To show, use load.)
  Result read(const anvil::RegionFile& file, int n, books::Findings& findings, Use use);

  nbt::Tree& tree() { return shown_ ? reader_.tree() : repair_.tree(); }
  // The repaired chunk's tree as it is written, and its new record,
  // compressed as the slot's own file is (a chunk in the region: zlib).
  const ByteBuffer& serialised() const { return serialised_; }
  ByteBuffer& record() { return record_; }
  // Gives back the memory of the last chunk, which the tree then no longer has.
  void release() {
    reader_.release();
    serialised_ = ByteBuffer();
    record_ = ByteBuffer();
  }

 private:
  static constexpr size_t kLargestMadeInScan = size_t{16} << 20;

  bool everywhere_;
  bool upgrade_;
  bool shown_ = false;
  anvil::ChunkReader reader_;
  repair::ChunkRepair repair_;
  ByteBuffer serialised_, record_;
};

}  // namespace app
