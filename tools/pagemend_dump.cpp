// pagemend-dump REGION [X Z] [--types] [--everywhere]
// Prints the tree of one chunk of a region, or of every chunk, as the tool
// sees it (before any repair), so a user can look at what a report is about.
// Chunks that do not load are reported with pagemend's own lines, and where
// reading a tree stopped, on standard error, so that standard output holds
// only trees.
#include <getopt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "anvil/nbt_file.h"
#include "app/chunk_loader.h"
#include "app/console.h"
#include "app/messages.h"
#include "app/mend.h"
#include "fsio/files.h"
#include "fsio/system.h"
#include "nbt/printer.h"

namespace {

int usage(const char* program) {
  std::fprintf(stderr, "Usage: %s REGION [X Z] [--types]\n  X, Z: the chunk's position in the region, 0-31\n",
               program);
  return 1;
}

// A region of the game's saves, as users of each system write its path.
#ifdef _WIN32
constexpr const char* kExampleRegion = "\"%APPDATA%\\.minecraft\\saves\\My World\\region\\r.0.0.mca\"";
#else
constexpr const char* kExampleRegion = "~/.minecraft/saves/MyWorld/region/r.0.0.mca";
#endif

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
      "chunk asked for holds no readable tree, or the command line is wrong.\n"
      "\n"
      "Example:\n"
      "  %s %s 3 7\n",
      program, program, kExampleRegion);
}

bool parseCoordinate(const std::string& text, int& out) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoi(text);
  return out < anvil::kRegionSide;
}

struct ToStandardError : books::Findings {
  void add(books::Finding&& finding) override { std::fputs(app::lineOf(finding).c_str(), stderr); }
};

enum LongOnly { kTypes = 256, kEverywhere, kVersion };
const option kOptions[] = {
    {"types", no_argument, nullptr, kTypes},
    {"everywhere", no_argument, nullptr, kEverywhere},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

int main(int argc, char** argv) {
  fsio::startProgram(argc, argv, false);
  bool showTypes = false, everywhere = false;
  const char* program = argc > 0 && argv[0][0] ? argv[0] : "pagemend-dump";  // started with no name: its own
  opterr = 0;
  // Digits are taken as options so that a negative position is refused as any other.
  for (int c; (c = getopt_long(argc, argv, "h0123456789", kOptions, nullptr)) != -1;) {
    switch (c) {
      case kTypes:
        showTypes = true;
        break;
      case kEverywhere:
        everywhere = true;
        break;
      case 'h':
        printHelp(program);
        return 0;
      case kVersion:
        std::printf("pagemend-dump %s\n", PAGEMEND_VERSION);
        return 0;
      case '?':
        std::fprintf(stderr, "Error: unknown option '%s'\n",
                     optopt && optopt < 256 ? (std::string("-") + static_cast<char>(optopt)).c_str() : argv[optind - 1]);
        return usage(program);
      default:
        return usage(program);
    }
  }
  const std::vector<std::string> args(argv + optind, argv + argc);
  if (args.size() != 1 && args.size() != 3) return usage(program);
  int onlyX = -1, onlyZ = -1;
  if (args.size() == 3 && (!parseCoordinate(args[1], onlyX) || !parseCoordinate(args[2], onlyZ))) {
    return usage(program);
  }
  app::StreamOutput errors(stderr);  // standard output holds trees alone
  if (everywhere && app::isPlayerFile(args[0].c_str())) {
    if (args.size() != 1) return usage(program);
    anvil::NbtFile file;
    if (const anvil::NbtFileStatus loaded = file.load(args[0].c_str()); !loaded) {
      app::reportNbtFile(loaded, args[0].c_str(), errors);
      if (loaded.fault == anvil::NbtFileStatus::unread && loaded.root.read.outcome != nbt::Tree::Read::ok) {
        std::fprintf(stderr, "Reading its tree stopped%s\n", app::readDetail(loaded.root.read).c_str());
      }
      return 1;
    }
    nbt::printTag(file.tree().root(), 0, showTypes, stdout);
    std::printf("\n");
    return 0;
  }
  anvil::RegionFile file;
  if (const anvil::OpenStatus opened = file.open(args[0].c_str()); !opened) {
    app::reportOpen(opened, args[0].c_str(), errors);
    return 1;
  }
  file.readExternal = everywhere;

  app::ChunkLoader loader(false, everywhere);
  ToStandardError report;
  int shown = 0;
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    const int x = anvil::slotX(n), z = anvil::slotZ(n);
    if (file.slots[n].offset == 0) continue;
    if (onlyX >= 0 && (x != onlyX || z != onlyZ)) continue;
    const app::ChunkLoader::Result result = loader.load(file, n, report, app::ChunkLoader::Use::show);
    if (result.read.outcome != nbt::Tree::Read::ok) {
      std::fprintf(stderr, "Chunk %i,%i: reading its tree stopped%s\n", x, z, app::readDetail(result.read).c_str());
    }
    if (!result.hasTree) continue;
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
