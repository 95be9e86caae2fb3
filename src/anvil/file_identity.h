#pragma once

// A file as it was when it was read: the same file, with the same size and
// modification time, is taken to hold the same bytes. A run checks it before
// it writes, so that what the game saved meanwhile is never written over.

#include <sys/stat.h>

#include <cstdint>

namespace anvil {

struct FileIdentity {
  uint64_t device = 0, inode = 0;
  int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;

  static FileIdentity of(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino), static_cast<int64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec), static_cast<int64_t>(info.st_mtim.tv_nsec)};
  }
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size && modifiedSeconds == o.modifiedSeconds &&
           modifiedNanoseconds == o.modifiedNanoseconds;
  }
};

// Whether the open file and the file its path names now are both still `opened`.
inline bool stillTheFileRead(int fd, const char* path, const FileIdentity& opened) {
  struct stat now, named;
  return fstat(fd, &now) == 0 && FileIdentity::of(now) == opened && stat(path, &named) == 0 &&
         FileIdentity::of(named) == opened;
}

}  // namespace anvil
