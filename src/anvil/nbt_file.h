#pragma once

#include <string>

#include "anvil/codec.h"
#include "anvil/file_identity.h"
#include "anvil/status.h"
#include "nbt/byte_buffer.h"
#include "nbt/tree.h"

namespace anvil {

// What kept a file of gzip-compressed NBT from loading.
struct NbtFileStatus {
  enum Fault {
    none,
    cannotOpen,  // not there, not a regular file, or not allowed
    tooLarge,    // larger than any file the game writes
    cannotRead,
    undecoded,  // `codec` says why
    unread,     // `root` says why
  };
  Fault fault = none;
  CodecStatus codec;
  RootStatus root;
  explicit operator bool() const { return fault == none; }
};

// A file of gzip-compressed NBT, read whole: a player's file
// (playerdata/<uuid>.dat) or level.dat.
class NbtFile {
 public:
  NbtFile() = default;
  ~NbtFile();
  NbtFile(const NbtFile&) = delete;
  NbtFile& operator=(const NbtFile&) = delete;

  // Reads and inflates the file; with `readRoot`, reads its tree too.
  NbtFileStatus load(const char* path, bool readRoot = true);

  nbt::Tree& tree() { return tree_; }
  // The file's NBT, inflated.
  const uint8_t* data() const { return inflater_.data(); }
  size_t size() const { return inflater_.size(); }
  int fd() const { return fd_; }
  // Whether `path` still names the file read, as it was then.
  bool unchanged(const char* path) const;

  // The file's bytes as they are written back: the tree (as the tag writer
  // writes it) compressed as one gzip member, followed by what the file held
  // beyond the tree, which the game does not read: bytes after the root
  // (inflated), and after the last member.
  CodecStatus encode(ByteBuffer& out);
  // The same with the tree as given (a named tag, as the tag writer writes
  // it), for the tree read from data() that ended at `end`.
  CodecStatus encode(const ByteBuffer& tree, size_t end, ByteBuffer& out);

 private:
  int fd_ = -1;
  FileIdentity opened_;
  Inflater inflater_;  // holds the file's tree
  nbt::Tree tree_;
  std::string rootName_;
  ByteBuffer afterRoot_, afterGzip_;
};

}  // namespace anvil
