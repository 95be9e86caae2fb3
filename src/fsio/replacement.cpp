#include "fsio/replacement.h"

#ifdef _WIN32
#include <aclapi.h>
#include <io.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "fsio/files.h"
#include "fsio/windows.h"

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

// The longest name of a folder's entry (NAME_MAX on Linux; on Windows, in
// UTF-16 units, which are never more than UTF-8 bytes).
constexpr size_t kLongestName = 255;

// What each system does its own way, below.
long processId();
bool processAlive(long pid);
void removeFile(const std::string& path);
int renameOver(const std::string& from, const std::string& to, bool& inUse);  // 0, or errno
void flushFolder(const std::string& dir);
Failure takeOver(int fd, const FileInfo& like, const std::string& likePath, unsigned modeBits, int attributesFd);
bool linkTo(const std::string& existing, const std::string& path, PendingFile& pending);

// ".<file name>.pagemend-", the name cut short where the whole temporary
// name (a process id and a suffix follow) would pass the system's limit.
std::string temporaryPrefix(const std::string& base) {
  constexpr size_t kRoomForTheRest = 10 + 4;  // the longest process id, ".tmp" or ".old"
  const size_t infix = std::strlen(kTemporaryInfix);
  return "." + base.substr(0, kLongestName - kRoomForTheRest - infix - 1) + kTemporaryInfix;
}

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

#ifndef _WIN32

long processId() { return static_cast<long>(getpid()); }
bool processAlive(long pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }
void removeFile(const std::string& path) { unlink(path.c_str()); }

int renameOver(const std::string& from, const std::string& to, bool&) {
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool linkTo(const std::string& existing, const std::string& path, PendingFile& pending) {
  return pending.link(existing.c_str(), path.c_str());
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
Failure takeOver(int fd, const FileInfo& like, const std::string&, unsigned modeBits, int attributesFd) {
  // Made in a folder with a default ACL, the new file has that ACL: entries
  // for accounts the old file never let in. It is to have the old file's own
  // ACL, or none; the mode, set next, is then exactly the old one.
  if (attributesFd >= 0 && !hasAttribute(attributesFd, kAccessAcl) && hasAttribute(fd, kAccessAcl) &&
      fremovexattr(fd, kAccessAcl) != 0) {
    return failure(Failure::attributeNotCopied, errno, kAccessAcl);
  }
  // The owner first: changing it clears the set-user-ID and set-group-ID bits.
  if (failing(Call::fchown) || fchown(fd, like.owner, like.group) != 0) {
    // Only root may give a file away, but a member of its group may keep the group.
    if (fchown(fd, static_cast<uid_t>(-1), like.group) != 0) {
      // The new file stays in this user's group.
    }
  }
  if (failing(Call::fchmod) || fchmod(fd, like.mode & modeBits) != 0) return failure(Failure::modeNotKept, errno);
  FileInfo now;
  if (!infoOf(fd, now)) now = like;
  // Whoever was the owner, or in the group, counts as anyone else from now on.
  const mode_t others = like.mode & 07;
  const bool ownerShutOut = now.owner != like.owner && ((like.mode >> 6) & 07 & ~others);
  const bool groupShutOut = now.group != like.group && ((like.mode >> 3) & 07 & ~others);
  if (ownerShutOut || groupShutOut) {
    return failure(Failure::shutOut, 0, ownerShutOut && groupShutOut ? "owner and group" : ownerShutOut ? "owner" : "group");
  }
  return attributesFd < 0 ? Failure() : copyExtendedAttributes(attributesFd, fd);
}

#else  // Windows

using windows::handleOf;
using windows::setErrno;
using windows::systemPath;

long processId() { return static_cast<long>(GetCurrentProcessId()); }

bool processAlive(long pid) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // another user's, alive
  DWORD code = 0;
  const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return alive;
}

void removeFile(const std::string& path) { DeleteFileW(systemPath(path).c_str()); }

// The file's rename as Windows 10 and later make it: POSIX's, which replaces
// a file open elsewhere (if it was opened to let others remove it) and
// leaves the old one to those who hold it. FileRenameInfoEx and its flags,
// as the SDK names them.
constexpr int kFileRenameInfoEx = 22;
constexpr DWORD kReplaceIfExists = 0x1, kPosixSemantics = 0x2;
struct RenameInfo {
  DWORD flags;
  HANDLE rootDirectory;
  DWORD fileNameLength;
  WCHAR fileName[1];
};

DWORD renameByHandle(const std::wstring& from, const std::wstring& to) {
  const HANDLE h = CreateFileW(from.c_str(), DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  std::vector<uint8_t> buffer(sizeof(RenameInfo) + to.size() * sizeof(WCHAR));
  auto* info = reinterpret_cast<RenameInfo*>(buffer.data());
  info->flags = kReplaceIfExists | kPosixSemantics;
  info->rootDirectory = nullptr;
  info->fileNameLength = static_cast<DWORD>(to.size() * sizeof(WCHAR));
  std::memcpy(info->fileName, to.c_str(), to.size() * sizeof(WCHAR));
  const bool renamed = SetFileInformationByHandle(h, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileRenameInfoEx), info,
                                                  static_cast<DWORD>(buffer.size()));
  const DWORD error = renamed ? 0 : GetLastError();
  CloseHandle(h);
  return error;
}

// Another program holding the file (the game saving it, a scanner of
// viruses reading it) makes a rename fail for a moment: tried again, with
// a growing wait, as SQLite does; about 1.4 s in all.
constexpr int kRetries = 10;
constexpr DWORD kFirstWait = 25;  // milliseconds, and as much more each time

bool heldElsewhere(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

DWORD moved(const std::wstring& from, const std::wstring& to, DWORD flags) {
  return MoveFileExW(from.c_str(), to.c_str(), flags | MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
}

// The rename of old, which cannot replace a file open anywhere (this run
// reads the file it replaces until it is replaced): the old file is
// renamed aside (a file open to be shared for removing may be), the new one
// takes its name, and the old one is removed (gone once this run lets go of
// it). A run that ends in between leaves the old file aside, and the next
// replacement of the file puts it back.
DWORD renameOld(const std::wstring& from, const std::wstring& to, const std::string& target) {
  DWORD error = moved(from, to, MOVEFILE_REPLACE_EXISTING);
  if (error != ERROR_ACCESS_DENIED || GetFileAttributesW(to.c_str()) == INVALID_FILE_ATTRIBUTES) return error;
  const std::wstring aside =
      systemPath(directoryOf(target) + "/" + temporaryPrefix(baseNameOf(target)) + std::to_string(processId()) + kAsideSuffix);
  if ((error = moved(to, aside, 0)) != 0) return error;
  if ((error = moved(from, to, 0)) != 0) {
    moved(aside, to, 0);
    return error;
  }
  DeleteFileW(aside.c_str());
  return 0;
}

int renameOver(const std::string& from, const std::string& to, bool& inUse) {
  const std::wstring source = systemPath(from), target = systemPath(to);
  DWORD error = 0;
  for (int attempt = 0;; ++attempt) {
    error = renameByHandle(source, target);
    // Before Windows 10, and on file systems without POSIX's rename (FAT).
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
        error == ERROR_CALL_NOT_IMPLEMENTED) {
      error = renameOld(source, target, to);
    }
    if (error == 0) return 0;
    if (!heldElsewhere(error) || attempt == kRetries) break;
    Sleep(kFirstWait * static_cast<DWORD>(attempt + 1));
  }
  // Denied all the while, to a file this user may write: another program holds it.
  inUse = error != ERROR_ACCESS_DENIED || mayWrite(to);
  return setErrno(error);
}

void flushFolder(const std::string&) {
  // Windows writes a folder's entries to the disk itself (and the fallback
  // rename asks for it): a folder cannot be flushed as a file is.
}

bool linkTo(const std::string& existing, const std::string& path, PendingFile& pending) {
  return pending.link(existing.c_str(), path.c_str());
}

// The attributes a new file takes over: read-only is refused before, and
// the rest (compressed, encrypted, sparse) are the file system's own.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Gives the new file the old one's attributes (`like.mode` holds them) and
// its security descriptor's access list, inherited entries and all, as it
// had it (protected from its folder's, or not). A file made here is this
// user's; its owner is kept only where the system lets this user give it.
Failure takeOver(int fd, const FileInfo& like, const std::string& likePath, unsigned, int attributesFd) {
  const HANDLE to = handleOf(fd);
  HANDLE from = handleOf(attributesFd);
  HANDLE opened = INVALID_HANDLE_VALUE;
  if (from == INVALID_HANDLE_VALUE) {
    opened = CreateFileW(systemPath(likePath).c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    from = opened;
  }
  Failure taken;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr, group = nullptr;
  PACL access = nullptr;
  DWORD error = from == INVALID_HANDLE_VALUE ? GetLastError()
                                             : GetSecurityInfo(from, SE_FILE_OBJECT,
                                                               OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                                   DACL_SECURITY_INFORMATION,
                                                               &owner, &group, &access, nullptr, &descriptor);
  if (opened != INVALID_HANDLE_VALUE) CloseHandle(opened);
  if (error == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION which =
        DACL_SECURITY_INFORMATION |
        (control & SE_DACL_PROTECTED ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    if (failing(Call::fchmod)) {
      LocalFree(descriptor);
      return failure(Failure::modeNotKept, errno);
    }
    error = SetSecurityInfo(to, SE_FILE_OBJECT, which, nullptr, nullptr, access, nullptr);
    SetSecurityInfo(to, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, owner, group,
                    nullptr, nullptr);
    LocalFree(descriptor);
  } else if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) {
    error = ERROR_SUCCESS;  // a file system without security (FAT): nothing to keep
  }
  if (error != ERROR_SUCCESS) return failure(Failure::modeNotKept, setErrno(error));
  FILE_BASIC_INFO basic{};  // times of 0: left as they are
  basic.FileAttributes = like.mode & kKeptAttributes ? like.mode & kKeptAttributes : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(to, FileBasicInfo, &basic, sizeof basic)) {
    return failure(Failure::modeNotKept, setErrno(GetLastError()));
  }
  return taken;
}

#endif

// Removes what killed runs left beside this file.
// Removes what killed runs left beside `target`; an old file moved aside
// by a run that ended before the new one took its place goes back.
void removeLeftovers(const std::string& dir, const std::string& prefix, const std::string& target) {
  std::vector<std::string> names;
  folderEntries(dir, names);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const long pid = owner(name, prefix);
    if (pid <= 0 || processAlive(pid)) continue;
    FileInfo there;
    bool inUse = false;
    const bool aside = name.compare(name.size() - 4, 4, kAsideSuffix) == 0;
    if (aside && !linkInfoAt(target, there) && errno == ENOENT && renameOver(dir + "/" + name, target, inUse) == 0) continue;
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
  if (out >= 0) closeFile(out);
  closeFile(in);
  if (!copied && out >= 0) removeFile(to);
  if (!copied) pending.release();
  return copied;
}

}  // namespace

void failNextCall(Call call, int error) { injected = {true, call, error}; }

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
  closeFile(fd_);
  fd_ = -1;
  return error ? failure(Failure::writeFailed, error) : Failure();
}

Failure Replacement::commit(bool keepOld) {
  const std::string dir = directoryOf(target_);
  bool kept = false;
  if (keepOld && hadOld_) {
    removeFile(kept_);
    kept = linkTo(target_, kept_, keptPending_) || copyFile(target_, kept_, keptPending_);
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
  if (!committed_ || !hadOld_ || !infoAt(other, now) || now.device != old_.device || now.inode != old_.inode) {
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
