// The Windows side of replacing a file (replacement_system.h).
#include <cerrno>
#include <cstring>
#include <vector>

#include "fsio/replacement_system.h"
#include "fsio/windows.h"

#include <aclapi.h>

namespace fsio::detail {

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
  const HANDLE h = CreateFileW(from.c_str(), DELETE | SYNCHRONIZE | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
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
  // The rename on the disk before the run says it is done: flushing the
  // file flushes what the file system records of it, its name with it.
  if (renamed) FlushFileBuffers(h);
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
  // Only under a name that tells the file's whole name, so that it can be put back.
  const std::string prefix = temporaryPrefix(baseNameOf(target));
  if (prefix.size() != baseNameOf(target).size() + 1 + std::strlen(kTemporaryInfix)) return ERROR_FILENAME_EXCED_RANGE;
  const std::wstring aside = systemPath(directoryOf(target) + "/" + prefix + std::to_string(processId()) + kAsideSuffix);
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
  inUse = heldElsewhere(error) && (error != ERROR_ACCESS_DENIED || mayWrite(to));
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
// user's (only a privilege gives a file away on Windows), who had to be
// allowed to write the old one.
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
  PACL access = nullptr;
  DWORD error = from == INVALID_HANDLE_VALUE ? GetLastError()
                                             : GetSecurityInfo(from, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                                               nullptr, nullptr, &access, nullptr, &descriptor);
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

}  // namespace fsio::detail
