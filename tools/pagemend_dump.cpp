// pagemend-dump REGION [X Z] [--types]
// Prints the tree of one chunk of a region, or of every chunk, as the tool
// sees it (before any repair), so a user can look at what a report is about.
// Chunks that do not load are reported with pagemend's own lines, on
// standard error, so that standard output holds only trees.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nbt/printer.h"
#include "region/chunk_loader.h"
#include "region/console.h"

namespace {

int usage(const char* program) {
  std::fprintf(stderr, "Usage: %s REGION [X Z] [--types]\n  X, Z: the chunk's position in the region, 0-31\n",
               program);
  return 1;
}

bool parseCoordinate(const std::string& text, int& out) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < 0 || v >= region::kRegionSide) return false;
  out = static_cast<int>(v);
  return true;
}

struct ToStandardError : books::Report {
  void add(books::Finding, const std::string& line) override { std::fputs(line.c_str(), stderr); }
};

}  // namespace

int main(int argc, char** argv) {
  occupyStandardDescriptors();
  bool showTypes = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--types")) {
      showTypes = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  if (args.size() != 1 && args.size() != 3) return usage(argv[0]);
  int onlyX = -1, onlyZ = -1;
  if (args.size() == 3 && (!parseCoordinate(args[1], onlyX) || !parseCoordinate(args[2], onlyZ))) {
    return usage(argv[0]);
  }
  region::RegionFile file;
  if (!file.open(args[0].c_str())) return 1;

  region::ChunkLoader loader;
  ToStandardError errors;
  int shown = 0;
  for (int n = 0; n < region::kSlotCount; ++n) {
    const int x = region::slotX(n), z = region::slotZ(n);
    if (file.slots[n].offset == 0) continue;
    if (onlyX >= 0 && (x != onlyX || z != onlyZ)) continue;
    if (!loader.load(file, n, errors, region::ChunkLoader::Use::show).hasTree) continue;
    std::printf("Chunk %i,%i:\n", x, z);
    nbt::printTag(loader.tree().root(), 0, showTypes, stdout);
    std::printf("\n");
    ++shown;
  }
  if (onlyX >= 0 && shown == 0) {
    std::printf("Chunk %i,%i holds no readable tree\n", onlyX, onlyZ);
    return 1;
  }
  return 0;
}
