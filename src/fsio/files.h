#pragma once

// Reading and writing whole ranges of a file, and telling whether a file is
// still the one that was read. The C library only.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace fsio {

// Reads `size` bytes at `offset`, retrying what the system cuts short; false
// (errno set, EIO for a file that ended early) when they cannot all be read.
bool readFully(int fd, int64_t offset, uint8_t* into, size_t size);

// Writes `size` bytes at `offset`; false (errno set) when they cannot all be written.
bool writeFully(int fd, int64_t offset, const uint8_t* data, size_t size);

// A file as it was when it was read: the same file, with the same size and
// modification time, is taken to hold the same bytes.
struct FileIdentity {
  uint64_t device = 0, inode = 0;
  int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
  static FileIdentity of(const struct stat& info);
  bool operator==(const FileIdentity& o) const;
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The folder of a path ("." for a bare name) and its last part.
std::string directoryOf(const std::string& path);
std::string baseNameOf(const std::string& path);

// Makes sure descriptors 0, 1 and 2 are open before any file is: a program
// started with one of them closed would otherwise open a file there, and
// whatever it prints would be written into that file.
void occupyStandardDescriptors();

}  // namespace fsio
