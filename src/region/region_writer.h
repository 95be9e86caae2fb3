#pragma once

#include <array>
#include <functional>

#include "nbt/byte_buffer.h"
#include "region/codec.h"
#include "region/region_file.h"

namespace region {

enum class NewRecord { made, keepStored, fatal };

// Makes the records of the slots a rewrite writes afresh.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Puts slot n's new record (length, compression type, data) into `record`.
  // keepStored, after reporting why, when it cannot; then the stored bytes
  // are carried as for any other slot. fatal: the run must end at once.
  virtual NewRecord make(int n, ByteBuffer& record) = 0;
};

// A record (length, compression type, data) of a chunk's NBT bytes,
// compressed afresh (zlib at the default level, unless asked otherwise), in
// place of what `record` held.
CodecStatus makeRecord(const uint8_t* nbt, size_t size, ByteBuffer& record, uint8_t compression = kZlibCompression);

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

// Writes a complete new region to `path`: for each slot marked `rewritten` the
// record `source` makes, for every other slot its stored bytes (its extent)
// copied from `original` exactly as they are, all laid out from sector 2 in
// slot order with the timestamps as read. (A program that makes a region from
// nothing hands over a RegionFile it never opened, its slots filled in.) The new file is written beside the
// target under a temporary name, flushed to disk and renamed over it, so the
// region at `path` is at every moment either the old file or the whole new
// one. Returns the exit code: 0 when the file was replaced, 1 (after one
// line) when it was left untouched.
int writeRegion(const char* path, RegionFile& original, RecordSource& source);

// Replaces the file at `path` (open as `originalFd`) by one holding `bytes`,
// with the same care as a region (see writeRegion); `changed` says, and
// reports why, when the file must not be replaced. Returns the exit code.
int replaceWithBytes(const char* path, int originalFd, const std::function<bool()>& changed, const ByteBuffer& bytes);

// Leftovers of runs killed while writing are named
// ".<region file name>.pagemend-<process id>.tmp" (a long region name cut
// short); these are the parts around the id.
constexpr const char* kTemporaryInfix = ".pagemend-";
constexpr const char* kTemporarySuffix = ".tmp";

}  // namespace region
