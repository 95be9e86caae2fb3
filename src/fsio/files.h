#pragma once

// Writing whole ranges of a file, the parts of a path, the standard
// descriptors. The C library only.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fsio {

// Writes `size` bytes at `offset`; false (errno set) when they cannot all be written.
bool writeFully(int fd, int64_t offset, const uint8_t* data, size_t size);

// The folder of a path ("." for a bare name) and its last part.
std::string directoryOf(const std::string& path);
std::string baseNameOf(const std::string& path);

// Makes sure descriptors 0, 1 and 2 are open before any file is: a program
// started with one of them closed would otherwise open a file there, and
// whatever it prints would be written into that file.
void occupyStandardDescriptors();

// Whether another process holds a lock on the file at `path` (the game
// holds one on a world's session.lock while the world is open: Java's
// FileChannel.tryLock, an fcntl lock). Only tested: the file is opened to
// read and nothing is locked or changed. `unknown` when the file is there
// but cannot be opened or tested (another user's, a file system without locks).
enum class Lock { none, free, held, unknown };
Lock lockOf(const std::string& path);

}  // namespace fsio
