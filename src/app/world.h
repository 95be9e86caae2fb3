#pragma once

// The files a run goes through: those named, and every file of the worlds
// named.

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace app {

struct Target {
  enum Kind {
    region,
    playerFile,  // gzip-compressed NBT (a player's file, level.dat)
    chunkFile,   // a chunk's own file (c.X.Z.mcc), read through its region's stub
  };
  std::string path;  // as found: a link by its own name, as the game names its files
  Kind kind = region;
  int64_t size = 0;  // bytes, for the progress line
};

struct Listing {
  std::vector<Target> files;
  std::vector<std::string> unreadable;      // folders of a world that could not be read
  std::set<std::pair<dev_t, ino_t>> taken;  // the files listed, by device and inode
};

// Whether `path` is a world's folder: one holding level.dat, region/,
// DIM-1/region, DIM1/region or dimensions/ (a server's nether or end may be
// a world folder of its own, as Bukkit and Paper keep them).
bool isWorld(const std::string& path);

// Appends the files of the world at `world`, in a fixed order: the region
// files (r.X.Z.mca, r.X.Z.mcr) of region/, DIM-1/region, DIM1/region and of
// every dimension under dimensions/ (dimensions/<namespace>/<path...>/region);
// with `everywhere` also those of each dimension's entities/, playerdata/*.dat
// and level.dat. Sorted by path, files first and links after them; a file
// reached before (through another path or world) is passed over, a link that
// leads nowhere is not (its run says so). Other names (macOS's "._" files,
// backups) are passed over without a word.
void listWorld(const std::string& world, bool everywhere, Listing& out);

}  // namespace app
