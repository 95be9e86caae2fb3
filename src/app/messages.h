#pragma once

// The lines the program prints for what kept something from being read or
// written: the rooms below hand up statuses, these are their words.

#include <string>

#include "anvil/codec.h"
#include "anvil/nbt_file.h"
#include "anvil/status.h"
#include "app/console.h"
#include "books/finding.h"
#include "fsio/replacement.h"

namespace app {

// A chunk's faults, as findings about chunk x,z (zlib's own line before its
// chunk's, where it has one).
void reportRecord(const anvil::RecordStatus& status, int x, int z, books::Findings& findings);
void reportCodec(const anvil::CodecStatus& status, int x, int z, books::Findings& findings);
void reportRoot(const anvil::RootStatus& status, int x, int z, books::Findings& findings);

// The line that stands for a finding, with its line feed: the words of
// every finding are here, and nowhere else.
std::string lineOf(const books::Finding& finding);
// Where an item lies, as a line says it: " inside <id>... in <id> at x,y,z".
std::string placeText(const books::Place& place);
// zlib's own line for a failed call ("ERROR: inflate (-3)"), or for a
// broken stream state; empty for any other status.
std::string codecLine(const anvil::CodecStatus& status);

// A file's faults, as one "Error: ..." line (zlib's own line before it, where it has one).
void reportOpen(const anvil::OpenStatus& status, const char* path, Output& out);
void reportNbtFile(const anvil::NbtFileStatus& status, const char* path, Output& out);
void reportReplacement(const fsio::Failure& failure, const char* path, Output& out);

// How findings are said: as the program's lines, or (--json) as JSON
// objects, one a line, about `file`.
struct Voice {
  bool json = false;
  std::string file;
  std::string say(const books::Finding& finding) const;
};

// How a tree's reading stopped, for those who look inside chunks: " (why, at byte N)".
std::string readDetail(const nbt::Tree::ReadResult& read);

}  // namespace app
