// The Windows side of files.h: the CRT's descriptors for the rest of the
// code, the wide calls beneath them.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "fsio/files.h"
#include "fsio/windows.h"

namespace fsio {

namespace windows {

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring systemPath(const std::string& path) {
  std::wstring given = wide(path);
  constexpr size_t kOldLimit = 260 - 12;  // room for a folder's "\*" and an 8.3 name, as CreateDirectory keeps
  if (given.empty() || given.rfind(L"\\\\?\\", 0) == 0) return given;
  // Long or not as the system sees it: with the current folder before it.
  const DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (n < kOldLimit) return given;
  std::wstring full(n, L'\0');
  const DWORD got = GetFullPathNameW(given.c_str(), n, full.data(), nullptr);
  if (got == 0 || got >= n) return given;
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

HANDLE handleOf(int fd) {
  return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

int descriptorOf(HANDLE handle, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

int setErrno(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_WRITE_PROTECT:
      errno = EACCES;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      errno = EBUSY;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    case ERROR_FILE_TOO_LARGE:
      errno = EFBIG;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      errno = ENAMETOOLONG;
      break;
    case ERROR_DIRECTORY:
      errno = ENOTDIR;
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      errno = ENOMEM;
      break;
    case ERROR_TOO_MANY_OPEN_FILES:
      errno = EMFILE;
      break;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      errno = EPIPE;
      break;
    case ERROR_NOT_SAME_DEVICE:
      errno = EXDEV;
      break;
    case ERROR_INVALID_HANDLE:
      errno = EBADF;
      break;
    default:
      errno = EIO;
  }
  return errno;
}

}  // namespace windows

using namespace windows;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// 100-nanosecond ticks since 1601.
int64_t ticksOf(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// The file's number where the system gives none (0, or all ones: some
// network file systems): one from its whole name, so that two files are
// never taken for one (and links to one file for two, which only costs a
// repair of each name).
uint64_t numberFromName(HANDLE h) {
  std::wstring name(1024, L'\0');
  const DWORD n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
  name.resize(n < name.size() ? n : 0);
  return std::hash<std::wstring>()(name) | (uint64_t{1} << 63);
}

bool fill(HANDLE h, FileInfo& info, bool linkItself) {
  BY_HANDLE_FILE_INFORMATION data;
  info = FileInfo();
  if (GetFileType(h) == FILE_TYPE_PIPE) {
    info.type = FileInfo::pipe;
    return true;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) return true;  // a console, NUL: nothing that a run reads
  if (!GetFileInformationByHandle(h, &data)) {
    setErrno(GetLastError());
    return false;
  }
  info.type = linkItself && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileInfo::link
              : data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY                   ? FileInfo::folder
                                                                                   : FileInfo::regular;
  // The 128-bit number of ReFS (where the 64-bit one need not be unique),
  // and of every file system since Windows 8; the old one elsewhere.
  FILE_ID_INFO id{};
  uint64_t low = (static_cast<uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow, high = 0;
  info.device = data.dwVolumeSerialNumber;
  if (GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id)) {
    std::memcpy(&low, id.FileId.Identifier, 8);
    std::memcpy(&high, id.FileId.Identifier + 8, 8);
    info.device = id.VolumeSerialNumber ^ (high * 0x9E3779B97F4A7C15u);
  }
  const bool none = (low == 0 && high == 0) || (low == ~uint64_t{0} && high == ~uint64_t{0});
  info.inode = none ? numberFromName(h) : low;
  info.links = data.nNumberOfLinks;
  info.size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  const int64_t ticks = ticksOf(data.ftLastWriteTime);
  info.modifiedSeconds = ticks / 10000000;
  info.modifiedNanoseconds = ticks % 10000000 * 100;
  info.mode = data.dwFileAttributes;
  return true;
}

bool infoThrough(const std::string& path, FileInfo& info, bool linkItself) {
  const HANDLE h = CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | (linkItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    setErrno(GetLastError());
    return false;
  }
  const bool filled = fill(h, info, linkItself);
  CloseHandle(h);
  return filled;
}

}  // namespace

int openToRead(const std::string& path) {
  // Shared as POSIX shares every file: the game may go on writing it, and a
  // repaired file may be renamed over it while it is open here.
  const HANDLE h = CreateFileW(systemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    setErrno(GetLastError());
    return -1;
  }
  return descriptorOf(h, _O_RDONLY);
}

bool closeFile(int fd) { return fd < 0 || _close(fd) == 0; }

int64_t readAt(int fd, uint8_t* into, size_t size, int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
  if (ReadFile(handleOf(fd), into, want, &got, &at)) return got;
  const DWORD error = GetLastError();
  if (error == ERROR_HANDLE_EOF) return 0;
  setErrno(error);
  return -1;
}

bool writeFully(int fd, int64_t offset, const uint8_t* data, size_t size) {
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
    if (!WriteFile(handleOf(fd), data, want, &put, &at)) {
      setErrno(GetLastError());
      return false;
    }
    if (put == 0) {
      errno = EIO;
      return false;
    }
    data += put;
    size -= put;
    offset += put;
  }
  return true;
}

bool infoOf(int fd, FileInfo& info) {
  const HANDLE h = handleOf(fd);
  if (h == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  return fill(h, info, false);
}

bool infoAt(const std::string& path, FileInfo& info) { return infoThrough(path, info, false); }
bool linkInfoAt(const std::string& path, FileInfo& info) { return infoThrough(path, info, true); }

bool folderEntries(const std::string& folder, std::vector<std::string>& names) {
  WIN32_FIND_DATAW found;
  const std::wstring pattern = systemPath(folder + (folder.size() > 240 ? "\\*" : "/*"));
  const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true;  // a folder with no entry at all (a drive's root)
    setErrno(error);
    return false;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(narrow(name));
  } while (FindNextFileW(search, &found));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error == ERROR_NO_MORE_FILES) return true;
  setErrno(error);
  return false;
}

std::string realPathOf(const std::string& path) {
  const HANDLE h = CreateFileW(systemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    setErrno(GetLastError());
    return "";
  }
  std::wstring name(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
  if (n >= name.size()) {
    name.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
  }
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (n == 0 || n >= name.size()) {
    setErrno(error);
    return "";
  }
  name.resize(n);
  if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    name = L"\\\\" + name.substr(8);
  } else if (name.rfind(L"\\\\?\\", 0) == 0) {
    name = name.substr(4);
  }
  // With '/', as the run joins names onto it.
  std::string real = narrow(name);
  for (char& c : real) c = c == '\\' ? '/' : c;
  return real;
}

bool mayWrite(const std::string& path) {
  const std::wstring name = systemPath(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    errno = EACCES;
    return false;
  }
  // What the file's security lets this user do; a file held by another
  // program is no refusal here (its replacement waits for it, then says so).
  const HANDLE h = CreateFileW(name.c_str(), FILE_WRITE_DATA, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  setErrno(error);
  return false;
}

bool flushToDisk(int fd) {
  if (FlushFileBuffers(handleOf(fd))) return true;
  setErrno(GetLastError());
  return false;
}

void occupyStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (_get_osfhandle(fd) != -1) continue;
    const int opened = _wopen(L"NUL", _O_RDWR | _O_BINARY);  // the lowest free descriptor: this one
    if (opened >= 0 && opened != fd) _close(opened);
  }
}

Lock lockOf(const std::string& path) {
  // The game opens session.lock to read and write and locks it whole
  // (Java's FileChannel.tryLock: LockFileEx). There is no asking whether a
  // lock is held: a lock of one byte, given back at once, tells it.
  const HANDLE h = CreateFileW(systemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Lock::none;
    return error == ERROR_SHARING_VIOLATION ? Lock::held : Lock::unknown;
  }
  OVERLAPPED at{};
  Lock lock = Lock::free;
  if (LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    UnlockFileEx(h, 0, 1, 0, &at);
  } else {
    lock = GetLastError() == ERROR_LOCK_VIOLATION ? Lock::held : Lock::unknown;
  }
  CloseHandle(h);
  return lock;
}

}  // namespace fsio
