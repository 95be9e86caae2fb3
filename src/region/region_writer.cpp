#include "region/region_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "nbt/big_endian.h"
#include "region/console.h"

namespace region {

namespace {

constexpr size_t kFlushSize = size_t{256} << 10;  // large enough for few system calls
constexpr int64_t kCopyPiece = int64_t{1} << 20;  // stored records are carried over in pieces of this size

// The temporary files to remove if the run ends before they are renamed
// into place (the region's, and an external chunk's while it is written);
// kept as plain characters so a signal handler may use them.
char pendingTemporary[2][PATH_MAX + 64];
enum Pending { kRegionFile = 0, kChunkFile = 1 };

void removePendingTemporary(int which = kRegionFile) {
  if (pendingTemporary[which][0]) unlink(pendingTemporary[which]);
  pendingTemporary[which][0] = '\0';
}

void onTerminatingSignal(int signal) {
  removePendingTemporary(kChunkFile);
  removePendingTemporary(kRegionFile);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

const int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void guardTemporary(const std::string& name, int which = kRegionFile) {
  std::snprintf(pendingTemporary[which], sizeof pendingTemporary[which], "%s", name.c_str());
  for (int s : kTerminatingSignals) signal(s, onTerminatingSignal);
}

void releaseTemporaryGuard(int which = kRegionFile) {
  pendingTemporary[which][0] = '\0';
  if (which == kRegionFile) {
    for (int s : kTerminatingSignals) signal(s, SIG_DFL);
  }
}

bool readFully(int fd, int64_t offset, uint8_t* into, size_t size) {
  while (size > 0) {
    const ssize_t n = pread(fd, into, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // the file ended early
    if (n <= 0) return false;
    into += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool processAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

// ".<region file name>.pagemend-", the region's name cut short where the
// whole temporary name (a process id and ".tmp" follow) would pass the
// system's limit on a name.
std::string temporaryPrefix(const std::string& base) {
  constexpr size_t kRoomForTheRest = 10 + 4;  // the longest process id, ".tmp"
  const size_t infix = std::strlen(kTemporaryInfix);
  return "." + base.substr(0, NAME_MAX - kRoomForTheRest - infix - 1) + kTemporaryInfix;
}

// The process id in a temporary's name, or 0 when the name does not begin
// with this region's temporary prefix.
pid_t temporaryOwner(const std::string& name, const std::string& prefix) {
  const std::string suffix = kTemporarySuffix;
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return 0;
  }
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return static_cast<pid_t>(std::stol(digits));
}

// Removes temporaries that killed runs left beside this region.
void removeLeftovers(const std::string& dir, const std::string& prefix) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* entry = readdir(d)) {
    pid_t owner = temporaryOwner(entry->d_name, prefix);
    if (owner > 0 && !processAlive(owner)) unlink((dir + "/" + entry->d_name).c_str());
  }
  closedir(d);
}

// The new file, written in large pieces; remembers the first failure.
class Output {
 public:
  explicit Output(int fd) : fd_(fd) {}
  int64_t position() const { return written_ + static_cast<int64_t>(buffer_.size()); }
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }

  void append(const uint8_t* data, size_t size) {
    buffer_.insert(buffer_.end(), data, data + size);
    if (buffer_.size() >= kFlushSize) flush();
  }
  // Copies `length` bytes of `fd` from `offset`, a piece at a time.
  void appendFrom(int fd, int64_t offset, int64_t length) {
    while (length > 0 && !error_) {
      const size_t piece = static_cast<size_t>(std::min(length, kCopyPiece));
      const size_t at = buffer_.size();
      buffer_.resize(at + piece);
      if (!readFully(fd, offset, buffer_.data() + at, piece)) {
        buffer_.resize(at);
        fail(errno);
        return;
      }
      offset += static_cast<int64_t>(piece);
      length -= static_cast<int64_t>(piece);
      if (buffer_.size() >= kFlushSize) flush();
    }
  }
  void padToSector() {
    int64_t rest = position() % kSectorSize;
    if (rest) buffer_.resize(buffer_.size() + static_cast<size_t>(kSectorSize - rest), 0);
  }
  void flush() {
    writeAt(written_, buffer_.data(), buffer_.size());
    if (!error_) written_ += static_cast<int64_t>(buffer_.size());
    buffer_.clear();
  }
  void writeAt(int64_t offset, const uint8_t* data, size_t size) {
    while (size > 0 && !error_) {
      ssize_t n = pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : EIO;
        break;
      }
      data += n;
      size -= static_cast<size_t>(n);
      offset += n;
    }
  }
  void fail(int error) {
    if (!error_) error_ = error;
  }

 private:
  int fd_;
  int64_t written_ = 0;
  ByteBuffer buffer_;
  int error_ = 0;
};

// Writes a chunk's stream as the file `name` in `dir`: beside it under a
// temporary name, flushed, renamed over, the rename flushed. 0, or the
// system's error.
int writeChunkFile(const std::string& dir, const std::string& name, const uint8_t* data, size_t size,
                   const struct stat& like) {
  const std::string prefix = temporaryPrefix(name);
  removeLeftovers(dir, prefix);
  const std::string temporary = dir + "/" + prefix + std::to_string(static_cast<long>(getpid())) + kTemporarySuffix;
  unlink(temporary.c_str());
  guardTemporary(temporary, kChunkFile);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    releaseTemporaryGuard(kChunkFile);
    return error;
  }
  if (fchown(fd, like.st_uid, like.st_gid) != 0) {
    // As for the region: only root may give a file away.
  }
  fchmod(fd, like.st_mode & 0777);
  Output out(fd);
  out.append(data, size);
  out.flush();
  if (!out.failed() && fsync(fd) != 0) out.fail(errno);
  if (close(fd) != 0) out.fail(errno);
  if (!out.failed() && rename(temporary.c_str(), (dir + "/" + name).c_str()) != 0) out.fail(errno);
  if (out.failed()) {
    removePendingTemporary(kChunkFile);
    return out.error();
  }
  releaseTemporaryGuard(kChunkFile);
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return 0;
}

struct Writer {
  Writer(RegionFile& original, RecordSource& source, Output& out) : original(original), source(source), out(out) {}

  RegionFile& original;
  RecordSource& source;
  Output& out;
  uint8_t header[kHeaderSize] = {};
  bool fatal = false;

  void setLocation(int n, int64_t position, uint8_t sectorCount) {
    const int64_t sector = position / kSectorSize;
    if (sector > kMaxSectorNumber) {
      out.fail(EFBIG);  // no location entry can point this far
      return;
    }
    storeLocation(header, n, {static_cast<uint32_t>(sector), sectorCount});
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
      out.appendFrom(original.fd(), slot.offset, extent);
    } else {
      uint8_t length[4], checksum[4];
      nbt::storeU32(length, static_cast<uint32_t>(extent - 4 + slot.checksumMissing));
      nbt::storeU32(checksum, slot.checksum);
      out.append(length, sizeof length);
      out.appendFrom(original.fd(), slot.offset + 4, extent - 4);
      out.append(checksum + 4 - slot.checksumMissing, static_cast<size_t>(slot.checksumMissing));
    }
    out.padToSector();
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

  // Where a chunk too large for the region goes: the folder the region was
  // named in and the region's coordinates, when its name is "r.X.Z.mca".
  struct External {
    bool known = false;
    std::string dir;
    int regionX = 0, regionZ = 0;
    struct stat like {};  // owner and mode to give the file
  } external;

  void writeAfresh(int n, ByteBuffer& record) {
    switch (source.make(n, record)) {
      case NewRecord::made:
        break;
      case NewRecord::keepStored:
        carry(n);
        return;
      case NewRecord::fatal:
        fatal = true;
        return;
    }
    const int64_t sectors = sectorsFor(static_cast<int64_t>(record.size()));
    if (sectors > kMaxSectorCount) {
      if (!external.known) {
        printMessage("Warning: Chunk %i,%i would need %lld sectors, more than a location entry can describe; it is "
                     "kept exactly as it was stored\n",
                     slotX(n), slotZ(n), static_cast<long long>(sectors));
        carry(n);
        return;
      }
      // As the game stores such a chunk: its stream in a file of its own,
      // a stub in the region. The file is in place before the region is.
      const std::string name = "c." + std::to_string(int64_t{external.regionX} * kRegionSide + slotX(n)) + "." +
                               std::to_string(int64_t{external.regionZ} * kRegionSide + slotZ(n)) + ".mcc";
      if (const int error = writeChunkFile(external.dir, name, record.data() + kRecordHeaderSize,
                                           record.size() - kRecordHeaderSize, external.like)) {
        out.fail(error);
        return;
      }
      record.resize(kRecordHeaderSize);
      storeRecordHeader(record.data(), 1, kZlibCompression | kExternalFlag);
      setLocation(n, out.position(), 1);
      out.append(record.data(), record.size());
      out.padToSector();
      sharable = false;  // each slot needs its own file
      return;
    }
    setLocation(n, out.position(), static_cast<uint8_t>(sectors));
    out.append(record.data(), record.size());
    out.padToSector();
  }

  void run() {
    for (int n = 0; n < kSlotCount; ++n) storeTimestamp(header, n, original.slots[n].timestamp);
    out.append(header, sizeof header);  // the location table is filled in at the end
    ByteBuffer record;
    for (int n = 0; n < kSlotCount && !out.failed() && !fatal; ++n) {
      if (original.slots[n].rewritten) {
        rewrite(n, record);
      } else {
        carry(n);
      }
    }
    out.flush();
    out.writeAt(0, header, kSectorSize);
  }
};

// Copies every extended attribute; one that cannot be set, unless the new
// file holds it already (a security label given to every new file), would
// be lost, so that is a failure.
bool copyExtendedAttributes(int from, int to, const char* path) {
  std::vector<char> names, value, existing;
  ssize_t size;
  while ((size = flistxattr(from, nullptr, 0)) > 0) {
    names.resize(static_cast<size_t>(size));
    size = flistxattr(from, names.data(), names.size());
    if (size >= 0 || errno != ERANGE) break;  // grown meanwhile: ask again
  }
  if (size < 0 && errno != ENOTSUP) {
    printMessage("Error: unable to read the extended attributes of file '%s' (%s); it is left as it was!\n", path,
                 std::strerror(errno));
    return false;
  }
  for (size_t at = 0; size > 0 && at < static_cast<size_t>(size); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    auto read = [](int fd, const char* name, std::vector<char>& into) {
      ssize_t length;
      while ((length = fgetxattr(fd, name, nullptr, 0)) >= 0) {
        into.resize(static_cast<size_t>(length));
        length = fgetxattr(fd, name, into.data(), into.size());
        if (length >= 0) {
          into.resize(static_cast<size_t>(length));
          return true;
        }
        if (errno != ERANGE) break;
      }
      return false;
    };
    bool copied = read(from, name, value);
    if (copied && fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      const int error = errno;
      copied = read(to, name, existing) && existing == value;
      errno = error;
    }
    if (!copied) {
      printMessage("Error: unable to copy the extended attribute '%s' of file '%s' (%s); it is left as it was!\n", name,
                   path, std::strerror(errno));
      return false;
    }
  }
  return true;
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Gives the new file what the old one had that is not its bytes: owner,
// group, mode and extended attributes (POSIX ACLs among them). False, after
// one line, where it cannot, and the users of the old file would lose access.
bool takeOver(int fd, const struct stat& old, int oldFd, const char* path) {
  // The owner first: changing it clears the set-user-ID and set-group-ID bits.
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    // Only root may give a file away, but a member of its group may keep the group.
    if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      // The new file stays in this user's group.
    }
  }
  fchmod(fd, old.st_mode & 07777);
  struct stat now;
  if (fstat(fd, &now) != 0) now = old;
  // Whoever was the owner, or in the group, counts as anyone else from now on.
  const mode_t others = old.st_mode & 07;
  const bool ownerShutOut = now.st_uid != old.st_uid && ((old.st_mode >> 6) & 07 & ~others);
  const bool groupShutOut = now.st_gid != old.st_gid && ((old.st_mode >> 3) & 07 & ~others);
  if (ownerShutOut || groupShutOut) {
    printMessage("Error: a new file in place of '%s' cannot keep its %s, whose access it would take away; it is left as "
                 "it was!\n",
                 path, ownerShutOut && groupShutOut ? "owner and group" : ownerShutOut ? "owner" : "group");
    return false;
  }
  return oldFd < 0 || copyExtendedAttributes(oldFd, fd, path);
}

}  // namespace

CodecStatus makeRecord(const uint8_t* nbt, size_t size, ByteBuffer& record, uint8_t compression) {
  record.assign(kRecordHeaderSize, 0);
  // Room for the whole stream at once; only the pages written are ever touched.
  record.reserve(kRecordHeaderSize + compressBound(static_cast<uLong>(std::min<size_t>(size, UINT32_MAX))));
  const CodecStatus status = compressAs(compression, nbt, size, record);
  // The length counts the compression type and the data.
  if (status.outcome == CodecStatus::ok) storeRecordHeader(record.data(), static_cast<uint32_t>(record.size() - 4), compression);
  return status;
}

namespace {

// What a replacement's contents came to: written (or failed, as `out` says),
// or given up on after the writer reported why.
enum class Contents { written, givenUp };

// Replaces the file at `path` by a new one that `write` fills, with every
// care a region gets: `changed` (which reports why) is asked first and
// just before the rename; the new file is made beside the old one (the one
// a link points at), takes over its owner, group, mode and attributes, is
// flushed and renamed over it, and the folder is flushed. Returns the exit
// code: 0 when replaced, 1 (after one line) when the file is left as it was.
int replaceFile(const char* path, int originalFd, const std::function<bool()>& changed,
                const std::function<Contents(Output& out, const struct stat* info)>& write) {
  if (changed()) return 1;
  // Replace what a symbolic link points at, so the link stays a link.
  char resolved[PATH_MAX];
  const std::string target = realpath(path, resolved) ? resolved : path;
  const std::string dir = directoryOf(target);
  const std::string base = baseNameOf(target);
  struct stat info {};
  const bool haveInfo = stat(target.c_str(), &info) == 0;

  // The rename needs only the folder's permission; the file's own must count too.
  if (haveInfo && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    printMessage("Error: unable to open file '%s' for output!\n", path);
    return 1;
  }
  const std::string prefix = temporaryPrefix(base);
  removeLeftovers(dir, prefix);
  const std::string temporary =
      dir + "/" + prefix + std::to_string(static_cast<long>(getpid())) + kTemporarySuffix;
  unlink(temporary.c_str());  // only a dead run with this very process id could have left it
  guardTemporary(temporary);
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    releaseTemporaryGuard();
    printMessage("Error: unable to create a new file beside '%s' (%s); it is left as it was!\n", path,
                 std::strerror(error));
    return 1;
  }
  if (haveInfo && !takeOver(fd, info, originalFd, path)) {
    close(fd);
    removePendingTemporary();
    releaseTemporaryGuard();
    return 1;
  }

  Output out(fd);
  Contents contents;
  try {
    contents = write(out, haveInfo ? &info : nullptr);
  } catch (...) {
    // Out of memory, most likely: the original stays, the caller says why.
    close(fd);
    removePendingTemporary(kChunkFile);
    removePendingTemporary();
    releaseTemporaryGuard();
    throw;
  }
  if (!out.failed() && contents == Contents::written && fsync(fd) != 0) out.fail(errno);
  if (close(fd) != 0) out.fail(errno);
  if (contents == Contents::givenUp) {
    // The writer has said why; the original stays as it was.
    removePendingTemporary();
    releaseTemporaryGuard();
    return 1;
  }
  // Last, as close to the rename as can be: a file saved since it was read
  // would lose what was saved.
  if (!out.failed() && changed()) {
    removePendingTemporary();
    releaseTemporaryGuard();
    return 1;
  }
  if (!out.failed() && rename(temporary.c_str(), target.c_str()) != 0) out.fail(errno);
  if (out.failed()) {
    removePendingTemporary();
    releaseTemporaryGuard();
    printMessage("Error: unable to write file '%s' (%s); it is left as it was!\n", path, std::strerror(out.error()));
    return 1;
  }
  releaseTemporaryGuard();
  // The rename itself must reach the disk before the run reports success.
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return 0;
}

}  // namespace

int writeRegion(const char* path, RegionFile& original, RecordSource& source) {
  const bool fromFile = original.fd() >= 0;
  auto changed = [&] {
    if (!fromFile || original.unchanged(path)) return false;
    printMessage("Error: file '%s' changed while it was being repaired; it is left as it was!\n", path);
    return true;
  };
  return replaceFile(path, original.fd(), changed, [&](Output& out, const struct stat* info) {
    Writer writer(original, source, out);
    // Named as the game names regions, in the folder it was named in (a link's, if it is one).
    const std::string named = baseNameOf(path);
    int regionX, regionZ;
    if (info && std::sscanf(named.c_str(), "r.%d.%d.mca", &regionX, &regionZ) == 2 &&
        named == "r." + std::to_string(regionX) + "." + std::to_string(regionZ) + ".mca") {
      writer.external = {true, directoryOf(path), regionX, regionZ, *info};
    }
    writer.run();
    return writer.fatal ? Contents::givenUp : Contents::written;
  });
}

int replaceWithBytes(const char* path, int originalFd, const std::function<bool()>& changed, const ByteBuffer& bytes) {
  return replaceFile(path, originalFd, changed, [&](Output& out, const struct stat*) {
    out.append(bytes.data(), bytes.size());
    out.flush();
    return Contents::written;
  });
}

}  // namespace region
