#include "region/region_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "nbt/big_endian.h"
#include "region/codec.h"
#include "region/console.h"

namespace region {

namespace {

bool readable(uint8_t compression) {
  return compression == kGzipCompression || compression == kZlibCompression || compression == kNoCompression ||
         compression == kLz4Compression;
}

RegionFile::Identity identityOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), static_cast<int64_t>(info.st_size),
          static_cast<int64_t>(info.st_mtim.tv_sec), static_cast<int64_t>(info.st_mtim.tv_nsec)};
}

}  // namespace

RegionFile::~RegionFile() {
  if (fd_ >= 0) close(fd_);
}

bool RegionFile::readAt(int64_t offset, uint8_t* into, size_t size) const {
  while (size > 0) {
    const ssize_t n = pread(fd_, into, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool RegionFile::open(const char* path) {
  // Without waiting: opening a FIFO for reading would block until a writer came.
  fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info;
  if (fd_ < 0 || fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    printMessage("Error: unable to open file '%s'!\n", path);
    return false;
  }
  size_ = info.st_size;
  opened_ = identityOf(info);
  path_ = path;
  if (size_ > 0 && size_ < kHeaderSize) {
    printMessage("Error: file '%s' is too short to be a region file (%lld bytes; its tables alone take %lld)!\n",
                 path, static_cast<long long>(size_), static_cast<long long>(kHeaderSize));
    return false;
  }
  uint8_t* header = header_.data();
  if (size_ > 0 && !readAt(0, header, kHeaderSize)) {
    // Not a region without chunks: one whose chunks cannot be known.
    printMessage("Error: unable to read file '%s'!\n", path);
    return false;
  }
  for (int n = 0; n < kSlotCount; ++n) {
    const Location location = loadLocation(header, n);
    slots[n].offset = int64_t{location.sector} * kSectorSize;
    slots[n].sectorCount = location.count;
    slots[n].timestamp = loadTimestamp(header, n);
    if (slots[n].offset == 0) slots[n].extent = 0;
  }
  return true;
}

bool RegionFile::unchanged(const char* path) const {
  struct stat now, named;
  std::array<uint8_t, kHeaderSize> header{};
  return fstat(fd_, &now) == 0 && identityOf(now) == opened_ && stat(path, &named) == 0 &&
         identityOf(named) == opened_ && (size_ == 0 || (readAt(0, header.data(), kHeaderSize) && header == header_));
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

bool RegionFile::readRecord(int n, ByteBuffer& record, books::Report& report) {
  using books::Finding;
  Slot& slot = slots[n];
  const int x = slotX(n), z = slotZ(n);
  slot.extent = storedExtent(slot, nullptr);
  if (slot.offset >= size_) {
    report.addf(Finding::error, "Error: Chunk %i,%i failed to read all data\n", x, z);
    return false;
  }
  const int64_t available = size_ - slot.offset;
  const int64_t claimed = int64_t{slot.sectorCount} * kSectorSize;
  if (available < kRecordHeaderSize) {
    report.addf(Finding::error, "Error: Chunk %i,%i failed to read all data\n", x, z);
    return false;
  }
  // Most records lie within their claimed sectors: one read takes them whole.
  size_t first = static_cast<size_t>(std::min(available, std::max(claimed, kSectorSize)));
  record.resize(first);
  if (!readAt(slot.offset, record.data(), first)) {
    report.addf(Finding::error, "Error: Chunk %i,%i failed to read all data\n", x, z);
    return false;
  }
  slot.extent = storedExtent(slot, record.data());
  const int32_t length = static_cast<int32_t>(nbt::loadU32(record.data()));
  const uint8_t compression = record[4];
  const bool lengthFits = length >= 1 && length - 1 <= available - kRecordHeaderSize;

  // Of a chunk in its own file, the region holds a stub: the compression
  // type with the flag set, naming what the file holds.
  const uint8_t type = compression & ~kExternalFlag;
  if ((compression & kExternalFlag) && readExternal && length >= 1 && (readable(type) || type == kCustomCompression)) {
    return readExternalRecord(n, type, record, report);
  }
  if (!readable(compression) && compression != kCustomCompression) {
    report.addf(Finding::error, "Error: Chunk %i,%i NBT is not compressed using Zlib (type=%i)\n", x, z,
                compression);
    return false;
  }
  if (length < 1) {
    report.addf(Finding::error, "Error: Chunk %i,%i has an invalid record length (%i)\n", x, z, length);
    return false;
  }
  // Only now, with the bytes known to be in the file, is the length used as a size.
  if (!lengthFits) {
    report.addf(Finding::error, "Error: Chunk %i,%i failed to read all data\n", x, z);
    return false;
  }
  const size_t whole = static_cast<size_t>(4 + int64_t{length});
  if (whole > first) {
    record.resize(whole);
    if (!readAt(slot.offset + static_cast<int64_t>(first), record.data() + first, whole - first)) {
      report.addf(Finding::error, "Error: Chunk %i,%i failed to read all data\n", x, z);
      return false;
    }
  }
  record.resize(whole);
  slot.compression = compression;
  return readable(compression) || !refuseCustom(n, record, report);
}

std::string RegionFile::externalPath(int n) const {
  const size_t slash = path_.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path_.substr(0, slash);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  int regionX, regionZ;
  if (std::sscanf(name.c_str(), "r.%d.%d.mca", &regionX, &regionZ) != 2 ||
      name != "r." + std::to_string(regionX) + "." + std::to_string(regionZ) + ".mca") {
    return "";
  }
  return dir + "/c." + std::to_string(int64_t{regionX} * kRegionSide + slotX(n)) + "." +
         std::to_string(int64_t{regionZ} * kRegionSide + slotZ(n)) + ".mcc";
}

bool RegionFile::readExternalRecord(int n, uint8_t compression, ByteBuffer& record, books::Report& report) {
  using books::Finding;
  Slot& slot = slots[n];
  const int x = slotX(n), z = slotZ(n);
  slot.external = true;  // whether or not its file can be read: the slot names its own
  const std::string path = externalPath(n);
  if (path.empty()) {
    report.addf(Finding::error,
                "Error: Chunk %i,%i is stored in a file of its own, which a region not named r.X.Z.mca cannot "
                "name\n",
                x, z);
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info;
  const bool opened = fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  const bool small = opened && static_cast<uint64_t>(info.st_size) <= kMaxChunkBytes;
  bool read = small;
  if (read) {
    externalOpened_[n] = identityOf(info);
    const size_t size = static_cast<size_t>(info.st_size);
    record.resize(kRecordHeaderSize + size);
    nbt::storeU32(record.data(), static_cast<uint32_t>(size + 1));
    record[4] = compression;
    for (size_t at = 0; read && at < size;) {
      const ssize_t got = pread(fd, record.data() + kRecordHeaderSize + at, size - at, static_cast<off_t>(at));
      if (got < 0 && errno == EINTR) continue;
      read = got > 0;
      if (read) at += static_cast<size_t>(got);
    }
  }
  if (fd >= 0) close(fd);
  if (opened && !small) {
    report.addf(Finding::error,
                "Error: Chunk %i,%i is stored in '%s', larger than %zu MiB, far beyond any chunk the game writes; it is "
                "left as it is\n",
                x, z, path.c_str(), kMaxChunkBytes >> 20);
    return false;
  }
  if (!read) {
    report.addf(Finding::error, "Error: Chunk %i,%i is stored in '%s', which cannot be read\n", x, z, path.c_str());
    return false;
  }
  slot.compression = compression;
  return readable(compression) || !refuseCustom(n, record, report);
}

bool RegionFile::refuseCustom(int n, const ByteBuffer& record, books::Report& report) {
  using books::Finding;
  // Its data begins with the algorithm's name, as Java's writeUTF writes it.
  const size_t size = record.size() - kRecordHeaderSize;
  const uint8_t* data = record.data() + kRecordHeaderSize;
  if (size < 2 || size - 2 < nbt::loadU16(data)) {
    report.addf(Finding::error,
                "Error: Chunk %i,%i is compressed with a custom algorithm whose name cannot be read; it is left as it "
                "is\n",
                slotX(n), slotZ(n));
  } else {
    // Printed as it is but for control characters, which could forge lines.
    std::string name;
    for (size_t i = 0; i < nbt::loadU16(data); ++i) {
      const unsigned char c = data[2 + i];
      if (c < 0x20 || c == 0x7f) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        name += escaped;
      } else {
        name += static_cast<char>(c);
      }
    }
    report.addf(Finding::error,
                "Error: Chunk %i,%i is compressed with the custom algorithm '%s', which pagemend cannot read; it is "
                "left as it is\n",
                slotX(n), slotZ(n), name.c_str());
  }
  return true;
}

bool RegionFile::externalUnchanged(int n) const {
  struct stat now;
  return stat(externalPath(n).c_str(), &now) == 0 && identityOf(now) == externalOpened_[n];
}

}  // namespace region
