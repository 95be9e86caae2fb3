#pragma once

// The lines the program prints for what kept something from being read or
// written: the rooms below hand up statuses, these are their words.

#include <string>

#include "anvil/codec.h"
#include "anvil/nbt_file.h"
#include "anvil/status.h"
#include "app/console.h"
#include "books/report.h"
#include "fsio/replacement.h"

namespace app {

// A chunk's faults, as "Error: Chunk x,z ..." lines (zlib's own line before
// its chunk's, where it has one).
void reportRecord(const anvil::RecordStatus& status, int x, int z, books::Report& report);
void reportCodec(const anvil::CodecStatus& status, int x, int z, books::Report& report);
void reportRoot(const anvil::RootStatus& status, int x, int z, books::Report& report);

// A file's faults, as one "Error: ..." line (zlib's own line before it, where it has one).
void reportOpen(const anvil::OpenStatus& status, const char* path, Output& out);
void reportNbtFile(const anvil::NbtFileStatus& status, const char* path, Output& out);
void reportReplacement(const fsio::Failure& failure, const char* path, Output& out);

// How a tree's reading stopped, for those who look inside chunks: " (why, at byte N)".
std::string readDetail(const nbt::Tree::ReadResult& read);

}  // namespace app
