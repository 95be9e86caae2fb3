#pragma once

// A file as it was when it was read: the same file, with the same size and
// modification time, is taken to hold the same bytes. A run checks it before
// it writes, so that what the game saved meanwhile is never written over.

#include <cstdint>

#include "fsio/files.h"

namespace anvil {

struct FileIdentity {
  uint64_t device = 0, inode = 0;
  int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;

  static FileIdentity of(const fsio::FileInfo& info) {
    return {info.device, info.inode, info.size, info.modifiedSeconds, info.modifiedNanoseconds};
  }
  bool operator==(const FileIdentity& o) const {
    return device == o.device && inode == o.inode && size == o.size && modifiedSeconds == o.modifiedSeconds &&
           modifiedNanoseconds == o.modifiedNanoseconds;
  }
};

// Whether the open file and the file its path names now are both still `opened`.
inline bool stillTheFileRead(int fd, const char* path, const FileIdentity& opened) {
  fsio::FileInfo now, named;
  return fsio::infoOf(fd, now) && FileIdentity::of(now) == opened && fsio::infoAt(path, named) &&
         FileIdentity::of(named) == opened;
}

}  // namespace anvil
