#pragma once

#include <sys/stat.h>

#include <string>

#include "nbt/byte_buffer.h"
#include "nbt/tree.h"
#include "region/codec.h"
#include "region/driver.h"

namespace region {

// A file of gzip-compressed NBT, read whole: a player's file
// (playerdata/<uuid>.dat) or level.dat.
class PlayerFile {
 public:
  PlayerFile() = default;
  ~PlayerFile();
  PlayerFile(const PlayerFile&) = delete;
  PlayerFile& operator=(const PlayerFile&) = delete;

  // Reads `path` and its tree; what keeps it from loading is reported as
  // one "Error: " line (after zlib's own, if it has one), and then false.
  bool load(const char* path);

  nbt::Tree& tree() { return tree_; }
  const std::string& rootName() const { return rootName_; }
  // What the file holds beyond the tree, which the game does not read and a
  // rewrite keeps: bytes after the root (inflated), and after the last member.
  const ByteBuffer& afterRoot() const { return afterRoot_; }
  const ByteBuffer& afterGzip() const { return afterGzip_; }
  int fd() const { return fd_; }
  // Whether `path` still names the file read, as it was then.
  bool unchanged(const char* path) const;

 private:
  int fd_ = -1;
  struct stat opened_ {};
  Inflater inflater_;  // holds the file's tree
  nbt::Tree tree_;
  std::string rootName_;
  ByteBuffer afterRoot_, afterGzip_;
};

// Whether `path` names such a file (its name ends in ".dat").
bool isPlayerFile(const std::string& path);

// The whole run for one such file: repairs the books of the player's
// inventory and ender chest (of Data.Player in level.dat), reports them as a
// region's run does, and writes the file back, gzip-compressed, with a
// region's care. Returns the exit code.
int mendPlayerFile(const char* path, const RunOptions& options);

}  // namespace region
