#include "anvil/region_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "nbt/big_endian.h"

namespace anvil {

namespace {

constexpr int64_t kCopyPiece = int64_t{1} << 20;  // stored records are carried over in pieces of this size

struct Writer {
  Writer(RegionFile& original, RecordSource& source, Sink& out, const ChunkFiles& chunkFiles)
      : original(original), source(source), out(out), chunkFiles(chunkFiles) {}

  RegionFile& original;
  RecordSource& source;
  Sink& out;
  const ChunkFiles& chunkFiles;
  uint8_t header[kHeaderSize] = {};
  bool stopped = false;  // the source said to end, or a chunk's own file failed
  ByteBuffer piece;

  void setLocation(int n, int64_t position, uint8_t sectorCount) {
    const int64_t sector = position / kSectorSize;
    if (sector > kMaxSectorNumber) {
      out.fail(EFBIG);  // no location entry can point this far
      return;
    }
    storeLocation(header, n, {static_cast<uint32_t>(sector), sectorCount});
  }

  void padToSector() {
    static const uint8_t zeros[kSectorSize] = {};
    if (const int64_t rest = out.position() % kSectorSize) out.append(zeros, static_cast<size_t>(kSectorSize - rest));
  }

  // Copies `length` stored bytes from `offset`, a piece at a time.
  void appendStored(int64_t offset, int64_t length) {
    while (length > 0 && !out.error()) {
      const size_t size = static_cast<size_t>(std::min(length, kCopyPiece));
      piece.resize(size);
      if (!original.readAt(offset, piece.data(), size)) {
        out.fail(errno ? errno : EIO);
        return;
      }
      out.append(piece.data(), size);
      offset += static_cast<int64_t>(size);
      length -= static_cast<int64_t>(size);
    }
  }

  // Slots that shared one stored record share it in the new file too:
  // where the first of them was placed, by its stored record's offset (and
  // for carried bytes their extent, which may differ with the entry's claim).
  std::map<int64_t, Location> rewrittenAt;
  std::map<std::pair<int64_t, int64_t>, Location> carriedAt;

  // Carries a slot's stored bytes over exactly as they are (but for a
  // checksum they lack).
  void carry(int n) {
    const int64_t extent = original.extent(n);
    if (extent <= 0) return;  // empty, or the entry pointed past the end: nothing was stored
    const Slot& slot = original.slots[n];
    const auto key = std::make_pair(slot.offset, extent);
    if (const auto placed = carriedAt.find(key); placed != carriedAt.end()) {
      storeLocation(header, n, placed->second);
      return;
    }
    // A stream stored short of its checksum is carried whole, unless the
    // bytes it lacks would take it past what a location entry can count.
    const bool complete = slot.checksumMissing > 0 && sectorsFor(extent + slot.checksumMissing) <= kMaxSectorCount;
    const int64_t sectors = sectorsFor(extent + (complete ? slot.checksumMissing : 0));
    setLocation(n, out.position(), sectors <= kMaxSectorCount ? static_cast<uint8_t>(sectors) : slot.sectorCount);
    if (!complete) {
      appendStored(slot.offset, extent);
    } else {
      uint8_t length[4], checksum[4];
      nbt::storeU32(length, static_cast<uint32_t>(extent - 4 + slot.checksumMissing));
      nbt::storeU32(checksum, slot.checksum);
      out.append(length, sizeof length);
      appendStored(slot.offset + 4, extent - 4);
      out.append(checksum + 4 - slot.checksumMissing, static_cast<size_t>(slot.checksumMissing));
    }
    padToSector();
    carriedAt[key] = loadLocation(header, n);
  }

  void rewrite(int n, ByteBuffer& record) {
    const int64_t offset = original.slots[n].offset;  // 0 for a region made from nothing: nothing shared
    if (const auto placed = rewrittenAt.find(offset); offset > 0 && placed != rewrittenAt.end()) {
      storeLocation(header, n, placed->second);
      return;
    }
    sharable = offset > 0;
    writeAfresh(n, record);
    if (sharable) rewrittenAt[offset] = loadLocation(header, n);
  }
  bool sharable = false;

  void writeAfresh(int n, ByteBuffer& record) {
    switch (source.make(n, record)) {
      case NewRecord::made:
        break;
      case NewRecord::keepStored:
        carry(n);
        return;
      case NewRecord::fatal:
        stopped = true;
        return;
    }
    const int64_t sectors = sectorsFor(static_cast<int64_t>(record.size()));
    if (sectors <= kMaxSectorCount) {
      setLocation(n, out.position(), static_cast<uint8_t>(sectors));
      out.append(record.data(), record.size());
      padToSector();
      return;
    }
    if (keptAsStored(source, n, sectors, chunkFiles.named)) {
      carry(n);
      return;
    }
    // As the game stores such a chunk: its stream in a file of its own, a
    // stub in the region.
    if (!source.chunkFile(n, chunkFileName(chunkFiles.regionX, chunkFiles.regionZ, n), record.data() + kRecordHeaderSize,
                          record.size() - kRecordHeaderSize)) {
      stopped = true;
      return;
    }
    record.resize(kRecordHeaderSize);
    storeRecordHeader(record.data(), 1, record[4] | kExternalFlag);
    setLocation(n, out.position(), 1);
    out.append(record.data(), record.size());
    padToSector();
    sharable = false;  // each slot needs its own file
  }

  void run() {
    for (int n = 0; n < kSlotCount; ++n) storeTimestamp(header, n, original.slots[n].timestamp);
    out.append(header, sizeof header);  // the location table is filled in at the end
    ByteBuffer record;
    for (int n = 0; n < kSlotCount && !out.error() && !stopped; ++n) {
      if (original.slots[n].rewritten) {
        rewrite(n, record);
      } else {
        carry(n);
      }
    }
    out.writeAt(0, header, kSectorSize);
  }
};

}  // namespace

CodecStatus makeRecord(const uint8_t* nbt, size_t size, ByteBuffer& record, uint8_t compression) {
  record.assign(kRecordHeaderSize, 0);
  // Room for the whole stream at once; only the pages written are ever touched.
  record.reserve(kRecordHeaderSize + compressBound(static_cast<uLong>(std::min<size_t>(size, UINT32_MAX))));
  const CodecStatus status = compressAs(compression, nbt, size, record);
  // The length counts the compression type and the data.
  if (status.outcome == CodecStatus::ok) {
    storeRecordHeader(record.data(), static_cast<uint32_t>(record.size() - 4), compression);
  }
  return status;
}

bool keptAsStored(RecordSource& source, int n, int64_t sectors, bool named) {
  if (sectors <= kMaxSectorCount || (named && source.mayHaveOwnFile(n))) return false;
  source.keptTooLarge(n, sectors, named ? RecordSource::TooLarge::tooOld : RecordSource::TooLarge::unnamed);
  return true;
}

int64_t recordBound(size_t size) {
  if (size > UINT32_MAX) return INT64_MAX;  // beyond what zlib's bound counts where a long has 32 bits
  return kRecordHeaderSize + static_cast<int64_t>(compressBound(static_cast<uLong>(size)));
}

void MemorySink::append(const uint8_t* data, size_t size) {
  if (!error_) bytes.insert(bytes.end(), data, data + size);
}

void MemorySink::writeAt(int64_t offset, const uint8_t* data, size_t size) {
  if (error_) return;
  const size_t at = static_cast<size_t>(offset);
  if (bytes.size() < at + size) bytes.resize(at + size);
  std::memcpy(bytes.data() + at, data, size);
}

bool writeRegion(Sink& sink, RegionFile& original, RecordSource& source, const ChunkFiles& chunkFiles) {
  Writer writer(original, source, sink, chunkFiles);
  writer.run();
  return !writer.stopped;
}

}  // namespace anvil
