#include "fsio/replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fsio/files.h"

namespace fsio {

namespace {

struct Injected {
  bool armed = false;
  Call call = Call::fsync;
  int error = 0;
} injected;

// Whether this call is to fail (for tests); errno is then set.
bool failing(Call call) {
  if (!injected.armed || injected.call != call) return false;
  injected.armed = false;
  errno = injected.error;
  return true;
}

Failure failure(Failure::Kind kind, int error = 0, std::string detail = "") { return {kind, error, std::move(detail)}; }

bool processAlive(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

// ".<file name>.pagemend-", the name cut short where the whole temporary
// name (a process id and a suffix follow) would pass the system's limit.
std::string temporaryPrefix(const std::string& base) {
  constexpr size_t kRoomForTheRest = 10 + 4;  // the longest process id, ".tmp" or ".old"
  const size_t infix = std::strlen(kTemporaryInfix);
  return "." + base.substr(0, NAME_MAX - kRoomForTheRest - infix - 1) + kTemporaryInfix;
}

// The process id in a name a replacement of this file leaves, or 0 when the
// name is not one.
pid_t owner(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string suffix = name.substr(name.size() - 4);
  if (suffix != kTemporarySuffix && suffix != kKeptSuffix) return 0;
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return static_cast<pid_t>(std::stol(digits));
}

// Removes what killed runs left beside this file.
void removeLeftovers(const std::string& dir, const std::string& prefix) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* entry = readdir(d)) {
    const pid_t pid = owner(entry->d_name, prefix);
    if (pid > 0 && !processAlive(pid)) unlink((dir + "/" + entry->d_name).c_str());
  }
  closedir(d);
}

void flushFolder(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool readAttribute(int fd, const char* name, std::vector<char>& into) {
  ssize_t length;
  while ((length = fgetxattr(fd, name, nullptr, 0)) >= 0) {
    into.resize(static_cast<size_t>(length));
    length = fgetxattr(fd, name, into.data(), into.size());
    if (length >= 0) {
      into.resize(static_cast<size_t>(length));
      return true;
    }
    if (errno != ERANGE) break;  // grown meanwhile: ask again
  }
  return false;
}

// Copies every extended attribute; one that cannot be set, unless the new
// file holds it already (a security label given to every new file), would
// be lost, so that is a failure.
Failure copyExtendedAttributes(int from, int to) {
  std::vector<char> names, value, existing;
  ssize_t size;
  while ((size = flistxattr(from, nullptr, 0)) > 0) {
    names.resize(static_cast<size_t>(size));
    size = flistxattr(from, names.data(), names.size());
    if (size >= 0 || errno != ERANGE) break;
  }
  if (size < 0 && errno != ENOTSUP) return failure(Failure::attributesUnread, errno);
  for (size_t at = 0; size > 0 && at < static_cast<size_t>(size); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    bool copied = readAttribute(from, name, value);
    if (copied && fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
      const int error = errno;
      copied = readAttribute(to, name, existing) && existing == value;
      errno = error;
    }
    if (!copied) return failure(Failure::attributeNotCopied, errno, name);
  }
  return {};
}

constexpr const char* kAccessAcl = "system.posix_acl_access";

bool hasAttribute(int fd, const char* name) { return fgetxattr(fd, name, nullptr, 0) >= 0; }

// Gives the new file what `like` has that is not its bytes. Where the owner
// or group cannot be kept and whoever had access through them would lose
// it, that is a failure.
Failure takeOver(int fd, const struct stat& like, mode_t modeBits, int attributesFd) {
  // Made in a folder with a default ACL, the new file has that ACL: entries
  // for accounts the old file never let in. It is to have the old file's own
  // ACL, or none; the mode, set next, is then exactly the old one.
  if (attributesFd >= 0 && !hasAttribute(attributesFd, kAccessAcl) && hasAttribute(fd, kAccessAcl) &&
      fremovexattr(fd, kAccessAcl) != 0) {
    return failure(Failure::attributeNotCopied, errno, kAccessAcl);
  }
  // The owner first: changing it clears the set-user-ID and set-group-ID bits.
  if (failing(Call::fchown) || fchown(fd, like.st_uid, like.st_gid) != 0) {
    // Only root may give a file away, but a member of its group may keep the group.
    if (fchown(fd, static_cast<uid_t>(-1), like.st_gid) != 0) {
      // The new file stays in this user's group.
    }
  }
  if (failing(Call::fchmod) || fchmod(fd, like.st_mode & modeBits) != 0) return failure(Failure::modeNotKept, errno);
  struct stat now;
  if (fstat(fd, &now) != 0) now = like;
  // Whoever was the owner, or in the group, counts as anyone else from now on.
  const mode_t others = like.st_mode & 07;
  const bool ownerShutOut = now.st_uid != like.st_uid && ((like.st_mode >> 6) & 07 & ~others);
  const bool groupShutOut = now.st_gid != like.st_gid && ((like.st_mode >> 3) & 07 & ~others);
  if (ownerShutOut || groupShutOut) {
    return failure(Failure::shutOut, 0, ownerShutOut && groupShutOut ? "owner and group" : ownerShutOut ? "owner" : "group");
  }
  return attributesFd < 0 ? Failure() : copyExtendedAttributes(attributesFd, fd);
}

// A copy of the file at `from`, flushed, as `to` (where no link can be made),
// registered as `pending`.
bool copyFile(const std::string& from, const std::string& to, PendingFile& pending) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = in < 0 ? -1 : pending.create(to.c_str(), 0600);
  bool copied = out >= 0;
  std::vector<uint8_t> piece(size_t{1} << 20);
  for (int64_t at = 0; copied;) {
    const ssize_t n = read(in, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      copied = n == 0;
      break;
    }
    copied = writeFully(out, at, piece.data(), static_cast<size_t>(n));
    at += n;
  }
  copied = copied && fsync(out) == 0;
  if (out >= 0 && close(out) != 0) copied = false;
  if (in >= 0) close(in);
  if (!copied && out >= 0) unlink(to.c_str());
  if (!copied) pending.release();
  return copied;
}

}  // namespace

void failNextCall(Call call, int error) { injected = {true, call, error}; }

Failure Replacement::begin(const std::string& path, int oldFd, const struct stat* like, int likeFd) {
  abort();
  char resolved[PATH_MAX];
  target_ = realpath(path.c_str(), resolved) ? resolved : path;
  hadOld_ = stat(target_.c_str(), &old_) == 0;
  // The rename needs only the folder's permission; the file's own must count too.
  if (hadOld_ && faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
    return failure(Failure::notWritable, errno);
  }
  const std::string dir = directoryOf(target_), prefix = temporaryPrefix(baseNameOf(target_));
  removeLeftovers(dir, prefix);
  temporary_ = dir + "/" + prefix + std::to_string(static_cast<long>(getpid())) + kTemporarySuffix;
  kept_ = dir + "/" + prefix + std::to_string(static_cast<long>(getpid())) + kKeptSuffix;
  unlink(temporary_.c_str());  // only a dead run with this very process id could have left it
  fd_ = pending_.create(temporary_.c_str(), 0600);
  if (fd_ < 0) {
    const int error = errno;
    temporary_.clear();
    return failure(Failure::cannotCreate, error);
  }
  Failure taken;
  if (hadOld_) {
    // Its attributes are read through a descriptor of its own where none was given.
    const int opened = oldFd >= 0 ? -1 : open(target_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    taken = takeOver(fd_, old_, 07777, oldFd >= 0 ? oldFd : opened);
    if (opened >= 0) close(opened);
  } else if (like) {
    taken = takeOver(fd_, *like, 0777, likeFd);
  }
  if (taken) abort();
  return taken;
}

Failure Replacement::finish() {
  int error = 0;
  if (failing(Call::fsync) || fsync(fd_) != 0) error = errno;
  if (close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  return error ? failure(Failure::writeFailed, error) : Failure();
}

Failure Replacement::commit(bool keepOld) {
  const std::string dir = directoryOf(target_);
  bool kept = false;
  if (keepOld && hadOld_) {
    unlink(kept_.c_str());
    kept = keptPending_.link(target_.c_str(), kept_.c_str()) || copyFile(target_, kept_, keptPending_);
    if (!kept) return failure(Failure::writeFailed, errno);
  }
  if (failing(Call::rename) || rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    if (kept) unlink(kept_.c_str());
    keptPending_.release();
    return failure(Failure::writeFailed, error);
  }
  committed_ = true;
  if (!kept) kept_.clear();
  pending_.release();
  // The rename itself must reach the disk before the run reports success.
  flushFolder(dir);
  return {};
}

void Replacement::rollBack() {
  if (!committed_) return;
  if (!kept_.empty()) {
    rename(kept_.c_str(), target_.c_str());
  } else if (!hadOld_) {
    unlink(target_.c_str());
  }
  keptPending_.release();
  kept_.clear();
  flushFolder(directoryOf(target_));
}

void Replacement::settle() {
  if (committed_ && !kept_.empty()) unlink(kept_.c_str());
  keptPending_.release();
  kept_.clear();
}

Failure Replacement::linkAs(const std::string& other) {
  struct stat now;
  if (!committed_ || !hadOld_ || stat(other.c_str(), &now) != 0 || now.st_dev != old_.st_dev ||
      now.st_ino != old_.st_ino) {
    return failure(Failure::notTheOldFile);
  }
  const std::string dir = directoryOf(other), prefix = temporaryPrefix(baseNameOf(other));
  removeLeftovers(dir, prefix);
  const std::string temporary = dir + "/" + prefix + std::to_string(static_cast<long>(getpid())) + kTemporarySuffix;
  unlink(temporary.c_str());
  PendingFile pending;
  if (!pending.link(target_.c_str(), temporary.c_str())) return failure(Failure::writeFailed, errno);
  if (failing(Call::rename) || rename(temporary.c_str(), other.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    return failure(Failure::writeFailed, error);
  }
  pending.release();
  flushFolder(dir);
  return {};
}

void Replacement::abort() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
  pending_.release();
  temporary_.clear();
  committed_ = false;
}

}  // namespace fsio
