#pragma once

// The system's side of reading and writing files: opening, reading and
// writing ranges, what a file is, the entries of a folder, the parts of a
// path, the standard descriptors. Paths are UTF-8 on every system (on
// Windows, made wide at each call, and long ones given the \\?\ form).
// The C library only (on Windows, its calls).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fsio {

// What a file is, as far as a run needs to know.
struct FileInfo {
  enum Type { other, regular, folder, link, pipe };
  Type type = other;
  // The same device and number: the same file (hard links, a path through a link).
  uint64_t device = 0, inode = 0, links = 1;
  int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
  uint32_t mode = 0, owner = 0, group = 0;  // POSIX only
};

// Opens a file to read, without waiting (a FIFO would block until a writer
// came) and, on Windows, without keeping others from writing, renaming or
// removing it meanwhile, as on POSIX. -1 with errno set when it cannot.
int openToRead(const std::string& path);
// False (errno set) where the system says the file's last writes failed then.
bool closeFile(int fd);
// Reads up to `size` bytes at `offset`: how many, 0 at the end, -1 (errno set) on a failure.
int64_t readAt(int fd, uint8_t* into, size_t size, int64_t offset);
// What the open file, the file a path names (through links) or the path
// itself (a link as a link) is; false, errno set, when it cannot be told.
bool infoOf(int fd, FileInfo& info);
bool infoAt(const std::string& path, FileInfo& info);
bool linkInfoAt(const std::string& path, FileInfo& info);
// The names in a folder but "." and ".."; false (errno set) when it cannot be read.
bool folderEntries(const std::string& folder, std::vector<std::string>& names);
// The path with every link followed and every "." and ".." resolved; "" when it cannot be.
std::string realPathOf(const std::string& path);
// Whether this user may write the file (not only its folder).
bool mayWrite(const std::string& path);
// Flushes what was written to the open file to the disk.
bool flushToDisk(int fd);

// Writes `size` bytes at `offset`; false (errno set) when they cannot all be written.
bool writeFully(int fd, int64_t offset, const uint8_t* data, size_t size);

// Whether `c` parts a path's names: '/', and on Windows '\\' too.
inline bool isSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// `name` in `folder`, parted by '/' (on Windows by '\\' where `folder` is
// written with those alone, so that the paths a run finds look as the user
// wrote the one named).
std::string joined(const std::string& folder, const std::string& name);

// The path without the separators a shell's completion leaves ("world/"),
// but a root's ("/", and on Windows "C:\\").
std::string withoutTrailingSeparators(const std::string& path);

// The folder of a path ("." for a bare name) and its last part.
std::string directoryOf(const std::string& path);
std::string baseNameOf(const std::string& path);

// Makes sure descriptors 0, 1 and 2 are open before any file is: a program
// started with one of them closed would otherwise open a file there, and
// whatever it prints would be written into that file.
void occupyStandardDescriptors();

// Whether another process holds a lock on the file at `path` (the game
// holds one on a world's session.lock while the world is open: Java's
// FileChannel.tryLock, an fcntl lock on POSIX, LockFileEx on Windows). Only tested: the file is opened to
// read and nothing is locked or changed. `unknown` when the file is there
// but cannot be opened or tested (another user's, a file system without locks).
enum class Lock { none, free, held, unknown };
Lock lockOf(const std::string& path);

}  // namespace fsio
