#include "fsio/replacement.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "fsio/files.h"
#include "fsio/replacement_system.h"

namespace fsio {

namespace {

struct Injected {
  bool armed = false;
  Call call = Call::fsync;
  int error = 0;
} injected;

}  // namespace

namespace detail {

bool failing(Call call) {
  if (!injected.armed || injected.call != call) return false;
  injected.armed = false;
  errno = injected.error;
  return true;
}



// The longest name of a folder's entry (NAME_MAX on Linux; on Windows, in
// UTF-16 units, which are never more than UTF-8 bytes).
constexpr size_t kLongestName = 255;

std::string temporaryPrefix(const std::string& base) {
  constexpr size_t kRoomForTheRest = 10 + 4;  // the longest process id, ".tmp" or ".old"
  const size_t infix = std::strlen(kTemporaryInfix);
  return "." + base.substr(0, kLongestName - kRoomForTheRest - infix - 1) + kTemporaryInfix;
}

}  // namespace detail

namespace {

using namespace detail;

// The process id in a name a replacement of this file leaves, or 0 when the
// name is not one.
long owner(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0) return 0;
  const std::string suffix = name.substr(name.size() - 4);
  if (suffix != kTemporarySuffix && suffix != kKeptSuffix && suffix != kAsideSuffix) return 0;
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stol(digits);
}

// An old file a run moved aside (`aside`), back at `target` where nothing is.
void putBack(const std::string& aside, const std::string& target) {
  FileInfo there;
  bool inUse = false;
  if (!linkInfoAt(target, there) && errno == ENOENT) renameOver(aside, target, inUse);
}

// Removes what killed runs left beside `target`, but an old file one moved
// aside: that goes back where the file is not there, and stays where it is
// (the file there may be one the game made since, not the run's).
void removeLeftovers(const std::string& dir, const std::string& prefix, const std::string& target) {
  std::vector<std::string> names;
  folderEntries(dir, names);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const long pid = owner(name, prefix);
    if (pid <= 0 || processAlive(pid)) continue;
    if (name.compare(name.size() - 4, 4, kAsideSuffix) == 0) {
      putBack(dir + "/" + name, target);
      continue;
    }
    removeFile(dir + "/" + name);
  }
}

std::string nameOfThisProcess(const std::string& dir, const std::string& prefix, const char* suffix) {
  return dir + "/" + prefix + std::to_string(processId()) + suffix;
}

// A copy of the file at `from`, flushed, as `to` (where no link can be made),
// registered as `pending`.
bool copyFile(const std::string& from, const std::string& to, PendingFile& pending) {
  const int in = openToRead(from);
  const int out = in < 0 ? -1 : pending.create(to.c_str(), 0600);
  bool copied = out >= 0;
  std::vector<uint8_t> piece(size_t{1} << 20);
  for (int64_t at = 0; copied;) {
    const int64_t n = readAt(in, piece.data(), piece.size(), at);
    if (n <= 0) {
      copied = n == 0;
      break;
    }
    copied = writeFully(out, at, piece.data(), static_cast<size_t>(n));
    at += n;
  }
  copied = copied && flushToDisk(out);
  if (out >= 0 && !closeFile(out)) copied = false;
  closeFile(in);
  if (!copied && out >= 0) removeFile(to);
  if (!copied) pending.release();
  return copied;
}

}  // namespace

void failNextCall(Call call, int error) { injected = {true, call, error}; }

void restoreSetAside(const std::string& folder) {
#ifdef _WIN32
  // Once a folder: a world's files are many, in a few folders.
  static std::mutex doneMutex;
  static std::set<std::string> done;
  {
    std::lock_guard<std::mutex> lock(doneMutex);
    if (!done.insert(folder).second) return;
  }
  std::vector<std::string> names;
  folderEntries(folder, names);
  const size_t infix = std::strlen(kTemporaryInfix);
  for (const std::string& name : names) {
    // ".<name>.pagemend-<pid>.was", of a name never cut short (see renameOld).
    const size_t at = name.rfind(kTemporaryInfix);
    if (name.size() < 2 || name[0] != '.' || at == std::string::npos || at < 2) continue;
    const std::string base = name.substr(1, at - 1);
    if (temporaryPrefix(base).size() != at + infix) continue;
    const long pid = owner(name, temporaryPrefix(base));
    if (pid > 0 && name.compare(name.size() - 4, 4, kAsideSuffix) == 0 && !processAlive(pid)) {
      putBack(joined(folder, name), joined(folder, base));
    }
  }
#else
  (void)folder;  // POSIX's rename replaces a file open anywhere: nothing is ever set aside
#endif
}

Failure Replacement::begin(const std::string& path, int oldFd, const FileInfo* like, int likeFd) {
  abort();
  target_ = realPathOf(path);
  if (target_.empty()) target_ = path;
  hadOld_ = infoAt(target_, old_);
  // The rename needs only the folder's permission; the file's own must count too.
  if (hadOld_ && !mayWrite(target_)) return failure(Failure::notWritable, errno);
  const std::string dir = directoryOf(target_), prefix = temporaryPrefix(baseNameOf(target_));
  removeLeftovers(dir, prefix, target_);
  hadOld_ = infoAt(target_, old_);  // (put back, if it was aside)
  temporary_ = nameOfThisProcess(dir, prefix, kTemporarySuffix);
  kept_ = nameOfThisProcess(dir, prefix, kKeptSuffix);
  removeFile(temporary_);  // only a dead run with this very process id could have left it
  fd_ = pending_.create(temporary_.c_str(), 0600);
  if (fd_ < 0) {
    const int error = errno;
    temporary_.clear();
    return failure(Failure::cannotCreate, error);
  }
  Failure taken;
  if (hadOld_) {
    // Its attributes are read through a descriptor of its own where none was given.
    const int opened = oldFd >= 0 ? -1 : openToRead(target_);
    taken = takeOver(fd_, old_, target_, 07777, oldFd >= 0 ? oldFd : opened);
    closeFile(opened);
  } else if (like) {
    taken = takeOver(fd_, *like, "", 0777, likeFd);
  }
  if (taken) abort();
  return taken;
}

Failure Replacement::finish() {
  int error = 0;
  if (failing(Call::fsync) || !flushToDisk(fd_)) error = errno;
  if (!closeFile(fd_) && error == 0) error = errno;
  fd_ = -1;
  return error ? failure(Failure::writeFailed, error) : Failure();
}

Failure Replacement::commit(bool keepOld) {
  const std::string dir = directoryOf(target_);
  bool kept = false;
  if (keepOld && hadOld_) {
    removeFile(kept_);
    kept = (!failing(Call::link) && linkTo(target_, kept_, keptPending_)) || copyFile(target_, kept_, keptPending_);
    if (!kept) return failure(Failure::writeFailed, errno);
  }
  bool inUse = false;
  if (const int error = failing(Call::rename) ? errno : renameOver(temporary_, target_, inUse)) {
    if (kept) removeFile(kept_);
    keptPending_.release();
    return failure(inUse ? Failure::inUse : Failure::writeFailed, error);
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
  bool inUse = false;
  if (!kept_.empty()) {
    renameOver(kept_, target_, inUse);
  } else if (!hadOld_) {
    removeFile(target_);
  }
  keptPending_.release();
  kept_.clear();
  flushFolder(directoryOf(target_));
}

void Replacement::settle() {
  if (committed_ && !kept_.empty()) removeFile(kept_);
  keptPending_.release();
  kept_.clear();
}

Failure Replacement::linkAs(const std::string& other) {
  FileInfo now;
  if (!committed_ || !hadOld_ || old_.links < 2 || !infoAt(other, now) || now.device != old_.device ||
      now.inode != old_.inode) {
    return failure(Failure::notTheOldFile);
  }
  const std::string dir = directoryOf(other), prefix = temporaryPrefix(baseNameOf(other));
  removeLeftovers(dir, prefix, other);
  const std::string temporary = nameOfThisProcess(dir, prefix, kTemporarySuffix);
  removeFile(temporary);
  PendingFile pending;
  if (!linkTo(target_, temporary, pending)) return failure(Failure::writeFailed, errno);
  bool inUse = false;
  if (const int error = failing(Call::rename) ? errno : renameOver(temporary, other, inUse)) {
    removeFile(temporary);
    return failure(inUse ? Failure::inUse : Failure::writeFailed, error);
  }
  pending.release();
  flushFolder(dir);
  return {};
}

void Replacement::abort() {
  closeFile(fd_);
  fd_ = -1;
  if (!committed_ && !temporary_.empty()) removeFile(temporary_);
  pending_.release();
  temporary_.clear();
  committed_ = false;
}

}  // namespace fsio
