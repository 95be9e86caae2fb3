#include "anvil/region_file.h"


#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "anvil/codec.h"
#include "nbt/big_endian.h"

namespace anvil {

namespace {

bool readable(uint8_t compression) {
  return compression == kGzipCompression || compression == kZlibCompression || compression == kNoCompression ||
         compression == kLz4Compression;
}

RecordStatus fault(RecordStatus::Fault kind, int value = 0, std::string text = "") {
  return {kind, value, std::move(text)};
}

// A record of the custom compression type names its algorithm first, as
// Java's writeUTF writes a string.
RecordStatus customFault(const ByteBuffer& record) {
  const size_t size = record.size() - kRecordHeaderSize;
  const uint8_t* data = record.data() + kRecordHeaderSize;
  if (size < 2 || size - 2 < nbt::loadU16(data)) return fault(RecordStatus::customUnnamed);
  return fault(RecordStatus::customCompression, 0,
               std::string(reinterpret_cast<const char*>(data + 2), nbt::loadU16(data)));
}

}  // namespace

bool regionCoordinates(const std::string& fileName, int& x, int& z) {
  return std::sscanf(fileName.c_str(), "r.%d.%d.mca", &x, &z) == 2 &&
         fileName == "r." + std::to_string(x) + "." + std::to_string(z) + ".mca";
}

std::string chunkFileName(int regionX, int regionZ, int n) {
  return "c." + std::to_string(int64_t{regionX} * kRegionSide + slotX(n)) + "." +
         std::to_string(int64_t{regionZ} * kRegionSide + slotZ(n)) + ".mcc";
}

RegionFile::~RegionFile() {
  fsio::closeFile(fd_);
}

bool RegionFile::readAt(int64_t offset, uint8_t* into, size_t size) const {
  if (fd_ < 0) {
    if (offset < 0 || offset > size_ || size > static_cast<size_t>(size_ - offset)) return false;
    std::memcpy(into, bytes_.data() + offset, size);
    return true;
  }
  while (size > 0) {
    const int64_t n = fsio::readAt(fd_, into, size, offset);
    if (n <= 0) return false;
    into += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

OpenStatus RegionFile::open(const char* path) {
  // Without waiting: opening a FIFO for reading would block until a writer came.
  fd_ = fsio::openToRead(path);
  fsio::FileInfo info;
  if (fd_ < 0 || !fsio::infoOf(fd_, info) || info.type != fsio::FileInfo::regular) return {OpenStatus::cannotOpen};
  size_ = info.size;
  opened_ = FileIdentity::of(info);
  path_ = path;
  return readTables();
}

OpenStatus RegionFile::openBytes(ByteBuffer bytes) {
  bytes_ = std::move(bytes);
  size_ = static_cast<int64_t>(bytes_.size());
  return readTables();
}

OpenStatus RegionFile::readTables() {
  if (size_ > 0 && size_ < kHeaderSize) return {OpenStatus::tooShort, size_};
  // Not a region without chunks: one whose chunks cannot be known.
  if (size_ > 0 && !readAt(0, header_.data(), kHeaderSize)) return {OpenStatus::cannotRead};
  for (int n = 0; n < kSlotCount; ++n) {
    const Location location = loadLocation(header_.data(), n);
    slots[n].offset = int64_t{location.sector} * kSectorSize;
    slots[n].sectorCount = location.count;
    slots[n].timestamp = loadTimestamp(header_.data(), n);
    if (slots[n].offset == 0) slots[n].extent = 0;
  }
  return {};
}

bool RegionFile::unchanged(const char* path) const {
  if (fd_ < 0) return true;
  std::array<uint8_t, kHeaderSize> header{};
  return stillTheFileRead(fd_, path, opened_) &&
         (size_ == 0 || (readAt(0, header.data(), kHeaderSize) && header == header_));
}

int64_t RegionFile::storedExtent(const Slot& slot, const uint8_t* header) const {
  if (slot.offset == 0 || slot.offset >= size_) return 0;
  const int64_t available = size_ - slot.offset;
  const int64_t claimed = int64_t{slot.sectorCount} * kSectorSize;
  if (header) {
    const int32_t length = static_cast<int32_t>(nbt::loadU32(header));
    if (length >= 1 && length - 1 <= available - kRecordHeaderSize) {
      return std::min(available, std::max(claimed, int64_t{4} + length));
    }
  }
  // The record is not whole: keep what is there within its claim.
  return std::min(available, std::max(claimed, std::min(available, kRecordHeaderSize)));
}

int64_t RegionFile::extent(int n) {
  Slot& slot = slots[n];
  if (slot.extent < 0) {
    uint8_t header[kRecordHeaderSize];
    const bool whole = slot.offset > 0 && slot.offset <= size_ - kRecordHeaderSize &&
                       readAt(slot.offset, header, sizeof header);
    slot.extent = storedExtent(slot, whole ? header : nullptr);
  }
  return slot.extent;
}

RecordStatus RegionFile::readRecord(int n, ByteBuffer& record) {
  SlotRead read = stateOf(n);
  const RecordStatus status = readRecord(n, record, read);
  apply(n, read);
  return status;
}

SlotRead RegionFile::stateOf(int n) const {
  const Slot& slot = slots[n];
  SlotRead read;
  read.extent = slot.extent;
  read.compression = slot.compression;
  read.external = slot.external;
  read.checksumMissing = slot.checksumMissing;
  read.checksum = slot.checksum;
  read.externalOpened = externalOpened_[n];
  return read;
}

void RegionFile::apply(int n, const SlotRead& read) {
  Slot& slot = slots[n];
  slot.extent = read.extent;
  slot.compression = read.compression;
  slot.external = read.external;
  slot.checksumMissing = read.checksumMissing;
  slot.checksum = read.checksum;
  externalOpened_[n] = read.externalOpened;
}

RecordStatus RegionFile::readRecord(int n, ByteBuffer& record, SlotRead& read) const {
  const Slot& slot = slots[n];
  read.extent = storedExtent(slot, nullptr);
  const int64_t available = size_ - slot.offset;
  if (slot.offset >= size_ || available < kRecordHeaderSize) return fault(RecordStatus::cutShort);
  const int64_t claimed = int64_t{slot.sectorCount} * kSectorSize;
  // Most records lie within their claimed sectors: one read takes them whole.
  const size_t first = static_cast<size_t>(std::min(available, std::max(claimed, kSectorSize)));
  record.resize(first);
  if (!readAt(slot.offset, record.data(), first)) return fault(RecordStatus::cutShort);
  read.extent = storedExtent(slot, record.data());
  const int32_t length = static_cast<int32_t>(nbt::loadU32(record.data()));
  const uint8_t compression = record[4];
  // Of a chunk in its own file, the region holds a stub: the compression
  // type with the flag set, naming what the file holds.
  const uint8_t type = compression & ~kExternalFlag;
  if ((compression & kExternalFlag) && readExternal && length >= 1 && (readable(type) || type == kCustomCompression)) {
    return readExternalRecord(n, type, record, read);
  }
  if (!readable(compression) && compression != kCustomCompression) {
    return fault(RecordStatus::unknownCompression, compression);
  }
  if (length < 1) return fault(RecordStatus::badLength, length);
  // Only now, with the bytes known to be in the file, is the length used as a size.
  if (length - 1 > available - kRecordHeaderSize) return fault(RecordStatus::cutShort);
  // Its length is its chunk's size: a hostile one is refused unread, where
  // compressed records stop at the bound as they are inflated.
  if (compression == kNoCompression && static_cast<uint64_t>(length - 1) > kMaxChunkBytes) {
    return fault(RecordStatus::tooLarge);
  }
  const size_t whole = static_cast<size_t>(4 + int64_t{length});
  if (whole > first) {
    record.resize(whole);
    if (!readAt(slot.offset + static_cast<int64_t>(first), record.data() + first, whole - first)) {
      return fault(RecordStatus::cutShort);
    }
  }
  record.resize(whole);
  read.compression = compression;
  return readable(compression) ? RecordStatus() : customFault(record);
}

std::string RegionFile::externalPath(int n) const {
  const size_t slash = path_.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path_.substr(0, slash);
  int regionX, regionZ;
  if (path_.empty() || !regionCoordinates(slash == std::string::npos ? path_ : path_.substr(slash + 1), regionX, regionZ)) {
    return "";
  }
  return fsio::joined(dir, chunkFileName(regionX, regionZ, n));
}

RecordStatus RegionFile::readExternalRecord(int n, uint8_t compression, ByteBuffer& record, SlotRead& slot) const {
  slot.external = true;  // whether or not its file can be read: the slot names its own
  const std::string path = externalPath(n);
  if (path.empty()) return fault(RecordStatus::externalUnnamed);
  const int fd = fsio::openToRead(path);
  fsio::FileInfo info;
  const bool opened = fd >= 0 && fsio::infoOf(fd, info) && info.type == fsio::FileInfo::regular;
  const bool small = opened && static_cast<uint64_t>(info.size) <= kMaxChunkBytes;
  bool read = small;
  if (read) {
    slot.externalOpened = FileIdentity::of(info);
    const size_t size = static_cast<size_t>(info.size);
    record.resize(kRecordHeaderSize + size);
    storeRecordHeader(record.data(), static_cast<uint32_t>(size + 1), compression);
    for (size_t at = 0; read && at < size;) {
      const int64_t got = fsio::readAt(fd, record.data() + kRecordHeaderSize + at, size - at, static_cast<int64_t>(at));
      read = got > 0;
      if (read) at += static_cast<size_t>(got);
    }
  }
  fsio::closeFile(fd);
  if (opened && !small) return fault(RecordStatus::externalTooLarge, 0, path);
  if (!read) return fault(RecordStatus::externalUnreadable, 0, path);
  slot.compression = compression;
  return readable(compression) ? RecordStatus() : customFault(record);
}

bool RegionFile::externalUnchanged(int n) const {
  fsio::FileInfo now;
  return fsio::infoAt(externalPath(n), now) && FileIdentity::of(now) == externalOpened_[n];
}

}  // namespace anvil
