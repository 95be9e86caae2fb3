#pragma once

// What kept a region, a record, a chunk's root or a file of NBT from being
// read, as data: the program turns these into its lines.

#include <cstdint>
#include <string>
#include <utility>

#include "nbt/tree.h"

namespace anvil {

// Opening a region file (see RegionFile::open).
struct OpenStatus {
  enum Fault {
    none,
    cannotOpen,  // not there, not a regular file, or not allowed
    tooShort,    // shorter than its tables, but not empty (`size` bytes)
    cannotRead,  // its tables cannot be read
  };
  OpenStatus(Fault fault = none, int64_t size = 0) : fault(fault), size(size) {}
  Fault fault;
  int64_t size;
  explicit operator bool() const { return fault == none; }
};

// Reading one slot's record (see RegionFile::readRecord).
struct RecordStatus {
  enum Fault {
    none,
    cutShort,            // the record, or its header, runs past the end of the file
    badLength,           // its length field (`value`) is below 1
    unknownCompression,  // a compression type (`value`) the game does not know
    customCompression,   // the custom type, its algorithm named `text`
    customUnnamed,       // the custom type, its algorithm's name cut short
    externalUnnamed,     // a stub, in a region whose name gives no coordinates for its file
    externalTooLarge,    // a stub whose file (`text`) is larger than a chunk may be
    externalUnreadable,  // a stub whose file (`text`) cannot be read
    tooLarge,            // uncompressed, and longer than a chunk may be (refused before it is read)
  };
  RecordStatus(Fault fault = none, int value = 0, std::string text = "")
      : fault(fault), value(value), text(std::move(text)) {}
  Fault fault;
  int value;
  std::string text;
  explicit operator bool() const { return fault == none; }
};

// Reading a chunk's root, or a file's (see readChunkRoot).
struct RootStatus {
  enum Fault {
    none,
    noRoot,       // empty, or a root of type TAG_End
    invalidRoot,  // the tree is not whole (`read` says why and where)
    namedRoot,    // a chunk's root with a name (`name`)
    tooManyTags,  // more tags than a tree may hold
    notCompound,  // the root is another tag than a compound
    noLevel,      // a chunk's root without "Level" (nor, read everywhere, the newer lists)
  };
  RootStatus(Fault fault = none, std::string name = "", nbt::Tree::ReadResult read = {})
      : fault(fault), name(std::move(name)), read(read) {}
  Fault fault;
  std::string name;
  nbt::Tree::ReadResult read;
  explicit operator bool() const { return fault == none; }
};

}  // namespace anvil
