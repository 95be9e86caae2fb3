#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "anvil/codec.h"
#include "anvil/region_file.h"
#include "nbt/byte_buffer.h"

namespace anvil {

enum class NewRecord { made, keepStored, fatal };

// Makes the records of the slots a rewrite writes afresh, and takes what a
// rewrite has to say.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Puts slot n's new record (length, compression type, data) into `record`.
  // keepStored, after saying why, when it cannot; then the stored bytes are
  // carried as for any other slot. fatal: the rewrite must end at once.
  virtual NewRecord make(int n, ByteBuffer& record) = 0;
  // Slot n's chunk is too large for a record: it goes to the file of its own
  // named `name` beside the region (its stream: `data`). False when that file
  // cannot be written; then the region must not be either.
  virtual bool chunkFile(int n, const std::string& name, const uint8_t* data, size_t size) {
    (void)n, (void)name, (void)data, (void)size;
    return false;
  }
  // Whether slot n's chunk, as make() last made it, may lie in a file of its
  // own: whether the game of its version reads one.
  virtual bool mayHaveOwnFile(int n) {
    (void)n;
    return true;
  }
  // Why a chunk too large for a record is kept as stored.
  enum class TooLarge {
    unnamed,  // the region's name gives no coordinates for a file of its own
    tooOld,   // its version of the game reads no chunk files
  };
  // Slot n's chunk would need `sectors` sectors, more than a location entry
  // counts, and cannot go to a file of its own: it is kept as stored.
  virtual void keptTooLarge(int n, int64_t sectors, TooLarge why) { (void)n, (void)sectors, (void)why; }
};

// Whether slot n's new record of `sectors` sectors must be kept as stored
// after all: more than a location entry counts, and no file of its own it
// may go to (`named`: the region's name gives coordinates for one). Then
// `source` is told why.
bool keptAsStored(RecordSource& source, int n, int64_t sectors, bool named);

// A record (length, compression type, data) of a chunk's NBT bytes,
// compressed afresh (zlib at the default level, unless asked otherwise), in
// place of what `record` held.
CodecStatus makeRecord(const uint8_t* nbt, size_t size, ByteBuffer& record, uint8_t compression = kZlibCompression);
// The most bytes makeRecord makes, with zlib, of `size` bytes of NBT.
int64_t recordBound(size_t size);

// Records made beforehand, for programs that write whole regions (the
// example generator, the benchmarks): mark the slots `rewritten`.
class MadeRecords : public RecordSource {
 public:
  std::array<ByteBuffer, kSlotCount> records;
  NewRecord make(int n, ByteBuffer& record) override {
    record = records[n];
    return NewRecord::made;
  }
};

// Where a new region's bytes go: appended in order, the header patched at
// the end. The first failure is kept; after it nothing is written.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void append(const uint8_t* data, size_t size) = 0;
  virtual void writeAt(int64_t offset, const uint8_t* data, size_t size) = 0;
  virtual int64_t position() const = 0;
  // Fails the sink with a system error (such as EFBIG), as a write could.
  virtual void fail(int error) = 0;
  virtual int error() const = 0;  // 0 while nothing failed
};

// A sink in memory.
class MemorySink : public Sink {
 public:
  ByteBuffer bytes;
  void append(const uint8_t* data, size_t size) override;
  void writeAt(int64_t offset, const uint8_t* data, size_t size) override;
  int64_t position() const override { return static_cast<int64_t>(bytes.size()); }
  void fail(int error) override {
    if (!error_) error_ = error;
  }
  int error() const override { return error_; }

 private:
  int error_ = 0;
};

// Where chunks too large for a record go: the coordinates of the region,
// from its name r.X.Z.mca. Without them, such a chunk is kept as stored.
struct ChunkFiles {
  bool named = false;
  int regionX = 0, regionZ = 0;
};

// Lays a complete new region out into `sink`: for each slot marked
// `rewritten` the record `source` makes, for every other slot its stored
// bytes (its extent) copied from `original` exactly as they are (but for a
// checksum they lack), all from sector 2 in slot order, with the timestamps
// as read; slots that shared a stored record share one in the new region. A
// chunk whose record would need more than 255 sectors goes to a file of its
// own (through `source`), the region holding a stub, as the game stores such
// chunks. (A program that makes a region from nothing hands over a
// RegionFile it never opened, its slots filled in.) False when `source`
// said the rewrite must end, or a chunk's own file could not be written.
bool writeRegion(Sink& sink, RegionFile& original, RecordSource& source, const ChunkFiles& chunkFiles = {});

}  // namespace anvil
