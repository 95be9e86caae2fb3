#include "fsio/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fsio {

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

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

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
