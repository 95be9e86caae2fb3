// The POSIX side of files.h.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fsio/files.h"

namespace fsio {

namespace {

void fill(const struct stat& s, FileInfo& info) {
  info.type = S_ISREG(s.st_mode)    ? FileInfo::regular
              : S_ISDIR(s.st_mode)  ? FileInfo::folder
              : S_ISLNK(s.st_mode)  ? FileInfo::link
              : S_ISFIFO(s.st_mode) ? FileInfo::pipe
                                    : FileInfo::other;
  info.device = static_cast<uint64_t>(s.st_dev);
  info.inode = static_cast<uint64_t>(s.st_ino);
  info.links = static_cast<uint64_t>(s.st_nlink);
  info.size = static_cast<int64_t>(s.st_size);
  info.modifiedSeconds = static_cast<int64_t>(s.st_mtim.tv_sec);
  info.modifiedNanoseconds = static_cast<int64_t>(s.st_mtim.tv_nsec);
  info.mode = static_cast<uint32_t>(s.st_mode);
  info.owner = static_cast<uint32_t>(s.st_uid);
  info.group = static_cast<uint32_t>(s.st_gid);
}

}  // namespace

int openToRead(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); }

bool closeFile(int fd) { return fd < 0 || close(fd) == 0; }

int64_t readAt(int fd, uint8_t* into, size_t size, int64_t offset) {
  for (;;) {
    const ssize_t n = pread(fd, into, size, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool writeFully(int fd, int64_t offset, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool infoOf(int fd, FileInfo& info) {
  struct stat s;
  if (fstat(fd, &s) != 0) return false;
  fill(s, info);
  return true;
}

bool infoAt(const std::string& path, FileInfo& info) {
  struct stat s;
  if (stat(path.c_str(), &s) != 0) return false;
  fill(s, info);
  return true;
}

bool linkInfoAt(const std::string& path, FileInfo& info) {
  struct stat s;
  if (lstat(path.c_str(), &s) != 0) return false;
  fill(s, info);
  return true;
}

bool folderEntries(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int error = errno;
  closedir(dir);
  errno = error;
  return error == 0;
}

std::string realPathOf(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : "";
}

bool mayWrite(const std::string& path) { return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0; }

bool flushToDisk(int fd) { return fsync(fd) == 0; }

void occupyStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one. Where there is no /dev/null,
    // the root folder, which no one can write to through it, takes the place.
    int opened = open("/dev/null", O_RDWR);
    if (opened < 0) opened = open("/", O_RDONLY | O_DIRECTORY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

Lock lockOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Lock::none : Lock::unknown;
  struct flock lock {};
  lock.l_type = F_WRLCK;  // would a lock of our own conflict with one held?
  lock.l_whence = SEEK_SET;
  const int tested = fcntl(fd, F_GETLK, &lock);
  close(fd);
  if (tested != 0) return Lock::unknown;
  return lock.l_type != F_UNLCK ? Lock::held : Lock::free;
}

}  // namespace fsio
