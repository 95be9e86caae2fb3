#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "anvil/file_identity.h"
#include "anvil/layout.h"
#include "anvil/status.h"
#include "nbt/byte_buffer.h"

namespace anvil {

// One slot of a region, as much of it as a run keeps: where its stored record
// lies and what a rewrite does with it.
struct Slot {
  int64_t offset = 0;  // byte position of the stored record; 0: the slot is empty
  // The stored bytes a rewrite carries over: the record as its length field
  // describes it; for a chunk that did not load, extended to the end of the
  // sectors its location entry claimed (trailing bytes, such as the last
  // checksum byte of files written one byte short, survive), never past the
  // end of the file. 0: nothing there; -1: not yet worked out (see extent()).
  int64_t extent = -1;
  uint8_t sectorCount = 0;  // the location entry's count as read
  // For a chunk that loaded from a stream stored short of its checksum: how
  // many of the checksum's bytes the stored record lacks, and the checksum.
  // A rewrite carries the record with them added.
  uint8_t checksumMissing = 0;
  uint32_t checksum = 0;
  uint32_t timestamp = 0;
  uint8_t compression = 0;  // of the record read (of its own file, for a stub), without the stub's flag
  bool rewritten = false;   // the rewrite writes the chunk afresh (a page of it was repaired)
  bool external = false;    // a stub: its chunk is read from its own c.X.Z.mcc file (see RegionFile::readExternal)
};

// What reading (and loading) slot n's record finds out about the slot: the
// threads of a scan keep it beside the file, which they only read, and the
// file takes it (RegionFile::apply) once they are done.
struct SlotRead {
  int64_t extent = -1;  // see Slot
  uint8_t compression = 0;
  bool external = false;
  uint8_t checksumMissing = 0;
  uint32_t checksum = 0;
  FileIdentity externalOpened{};  // of its own file, as read
};

// The world coordinates of the region a file named as the game names them
// ("r.X.Z.mca") holds; false for any other name.
bool regionCoordinates(const std::string& fileName, int& x, int& z);
// The name of the file of its own of slot n's chunk, in the region at x, z.
std::string chunkFileName(int regionX, int regionZ, int n);

// A region file open for reading, with its header tables.
class RegionFile {
 public:
  RegionFile() = default;
  ~RegionFile();
  RegionFile(const RegionFile&) = delete;
  RegionFile& operator=(const RegionFile&) = delete;

  // Opens `path` and reads its tables. A file that cannot be opened or read,
  // is not a regular file, or is shorter than its tables (but not empty: the
  // game creates empty region files) is refused.
  OpenStatus open(const char* path);
  // A region held in memory, read as a file of these bytes would be.
  OpenStatus openBytes(ByteBuffer bytes);

  // Whether `path` still names the file opened, as it was then: the same
  // file, size, modification time and tables. A rewrite is built from what
  // was read, so it must not replace a file that changed since (a game
  // saving the region while the run goes on).
  bool unchanged(const char* path) const;

  int fd() const { return fd_; }  // -1 for a region in memory
  int64_t size() const { return size_; }
  std::array<Slot, kSlotCount> slots;

  // Slot n's extent; one not yet worked out by a load is worked out from the
  // record's header, as for a chunk that did not load.
  int64_t extent(int n);

  // Reads slot n's record into `record` and works out the slot's extent. A
  // record the tool can read (gzip, zlib, uncompressed or LZ4) that lies
  // whole in the file has its compression type in record[4] and its data
  // from record[kRecordHeaderSize]; anything else is a fault.
  RecordStatus readRecord(int n, ByteBuffer& record);
  // The same, the slot's new state in `read` (which starts as the slot's
  // own), the file untouched: for threads that share it.
  RecordStatus readRecord(int n, ByteBuffer& record, SlotRead& read) const;
  // Slot n as it now stands.
  SlotRead stateOf(int n) const;
  // Slot n takes what a read found out.
  void apply(int n, const SlotRead& read);

  // Copies bytes of the file as it was read.
  bool readAt(int64_t offset, uint8_t* into, size_t size) const;

  // Whether readRecord follows a stub (a compression type with 0x80 set, the
  // game's mark for a chunk too large for its region) to the chunk's own file
  // c.X.Z.mcc beside the region, X and Z the chunk's world coordinates taken
  // from the region's name r.X.Z.mca. Set before any record is read.
  bool readExternal = false;
  // Slot n's own file, or "" when the region's name gives no coordinates.
  std::string externalPath(int n) const;
  // Whether slot n's own file is still as it was when it was read.
  bool externalUnchanged(int n) const;

 private:
  OpenStatus readTables();
  // The extent of a slot whose record begins with `header` (null when not
  // even its header is in the file).
  int64_t storedExtent(const Slot& slot, const uint8_t* header) const;
  // Reads slot n's own file, of this compression, into `record`, behind a
  // record header of its own.
  RecordStatus readExternalRecord(int n, uint8_t compression, ByteBuffer& record, SlotRead& read) const;

  int fd_ = -1;
  ByteBuffer bytes_;  // of a region in memory
  int64_t size_ = 0;
  std::string path_;
  FileIdentity opened_;
  std::array<FileIdentity, kSlotCount> externalOpened_{};  // of the slots' own files, as read
  std::array<uint8_t, kHeaderSize> header_{};           // the tables as read
};

}  // namespace anvil
