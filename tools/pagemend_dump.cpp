// pagemend-dump REGION [X Z] [--types]
// Prints the tree of one chunk of a region, or of every chunk, as the tool
// sees it (before any repair), so a user can look at what a report is about.
// Chunks that do not load are reported with pagemend's own lines, on
// standard error, so that standard output holds only trees.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "region/driver.h"

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

}  // namespace

int main(int argc, char** argv) {
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
  const char* path = args[0].c_str();
  std::FILE* file = std::fopen(path, "rb");
  struct stat info {};
  if (!file || fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    printMessage("Error: unable to open file '%s'!\n", path);
    return 1;
  }
  if (info.st_size > 0 && info.st_size < region::kHeaderSize) {
    printMessage("Error: file '%s' is too short to be a region file (%lld bytes; its tables alone take %lld)!\n",
                 path, static_cast<long long>(info.st_size), static_cast<long long>(region::kHeaderSize));
    return 1;
  }
  auto tables = std::make_unique<region::RegionTables>();
  setMessageOutput(stderr);
  region::loadRegion(file, info.st_size, *tables, /*walk=*/false);
  setMessageOutput(nullptr);
  std::fclose(file);

  int shown = 0;
  for (int z = 0; z < region::kRegionSide; ++z) {
    for (int x = 0; x < region::kRegionSide; ++x) {
      if (onlyX >= 0 && (x != onlyX || z != onlyZ)) continue;
      const nbt::TAG* root = tables->roots[x][z].get();
      if (!root) continue;
      printMessage("Chunk %i,%i:\n", x, z);
      root->print(0, showTypes);
      printMessage("\n");
      ++shown;
    }
  }
  if (onlyX >= 0 && shown == 0) {
    printMessage("Chunk %i,%i holds no readable tree\n", onlyX, onlyZ);
    return 1;
  }
  return 0;
}
