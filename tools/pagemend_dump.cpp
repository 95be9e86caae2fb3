// pagemend-dump REGION [X Z] [--types]
// Prints the tree of one chunk of a region, or of every chunk, as the tool
// sees it (before any repair), so a user can look at what a report is about.
// Chunks that do not load are reported with pagemend's own lines, on
// standard error, so that standard output holds only trees.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nbt/printer.h"
#include "region/chunk_loader.h"
#include "region/console.h"
#include "region/player_file.h"

namespace {

int usage(const char* program) {
  std::fprintf(stderr, "Usage: %s REGION [X Z] [--types]\n  X, Z: the chunk's position in the region, 0-31\n",
               program);
  return 1;
}

void printHelp(const char* program) {
  std::printf(
      "Usage: %s REGION [X Z] [--types]\n"
      "Prints the tree of the chunk at X, Z (its position in the region, 0-31), or of\n"
      "every chunk, as pagemend reads it, before any repair. Chunks that cannot be\n"
      "read are reported on standard error, so that standard output holds trees alone.\n"
      "\n"
      "Options:\n"
      "  --types      print each value's tag type beside it\n"
      "  --everywhere read every layout pagemend --everywhere reads, without a word\n"
      "               on chunks of 1.18 and later or entity files having no Level;\n"
      "               chunks in their own files (c.X.Z.mcc) are read; a REGION\n"
      "               named *.dat is read as a player's file or level.dat\n"
      "  -h, --help   print this help and exit\n"
      "  --version    print the version and exit\n"
      "  --           end of the options\n"
      "\n"
      "Exit status: 0 when the trees were printed; 1 when the file cannot be read, the\n"
      "chunk asked for holds no readable tree, or the command line is wrong.\n",
      program);
}

bool parseCoordinate(const std::string& text, int& out) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoi(text);
  return out < region::kRegionSide;
}

struct ToStandardError : books::Report {
  void add(books::Finding, const std::string& line) override { std::fputs(line.c_str(), stderr); }
};

}  // namespace

int main(int argc, char** argv) {
  occupyStandardDescriptors();
  bool showTypes = false, everywhere = false;
  std::vector<std::string> args;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-' || std::isdigit(static_cast<unsigned char>(arg[1]))) {
      args.push_back(arg);  // a negative number is a position, refused below
    } else if (arg == "--") {
      optionsEnd = true;
    } else if (arg == "--types") {
      showTypes = true;
    } else if (arg == "--everywhere") {
      everywhere = true;
    } else if (arg == "--help" || arg == "-h") {
      printHelp(argv[0]);
      return 0;
    } else if (arg == "--version") {
      std::printf("pagemend-dump %s\n", PAGEMEND_VERSION);
      return 0;
    } else {
      std::fprintf(stderr, "Error: unknown option '%s'\n", arg.c_str());
      return usage(argv[0]);
    }
  }
  if (args.size() != 1 && args.size() != 3) return usage(argv[0]);
  int onlyX = -1, onlyZ = -1;
  if (args.size() == 3 && (!parseCoordinate(args[1], onlyX) || !parseCoordinate(args[2], onlyZ))) {
    return usage(argv[0]);
  }
  printMessagesTo(stderr);  // standard output holds trees alone
  if (everywhere && region::isPlayerFile(args[0])) {
    if (args.size() != 1) return usage(argv[0]);
    region::PlayerFile file;
    if (!file.load(args[0].c_str())) return 1;
    nbt::printTag(file.tree().root(), 0, showTypes, stdout);
    std::printf("\n");
    return 0;
  }
  region::RegionFile file;
  if (!file.open(args[0].c_str())) return 1;
  file.readExternal = everywhere;

  region::ChunkLoader loader(false, everywhere);
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
    std::fprintf(stderr, "Chunk %i,%i holds no readable tree\n", onlyX, onlyZ);
    return 1;
  }
  return 0;
}
