#pragma once

// The files a run goes through: those named, and every file of the worlds
// named.

#include <cstdint>
#include <map>
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
  // The same file found under other names (hard links: `cp -al` makes a
  // world's copy of them), each a folder's real path and a name. A repair
  // makes each a name of the repaired file.
  std::vector<std::string> otherNames;
  std::string entry;  // the name `path` stands for, in the same form
  bool everywhere = false;  // a world's file: looked at everywhere
  int world = -1;           // the world it belongs to (Listing::worlds), if any
};

// A world of the run: its folder, and whether a running game holds it.
struct World {
  std::string path;
  std::string real;     // its folder's real path, to tell what lies in it under any name
  bool held = false;    // its session.lock is locked by another process
  bool unknown = false;  // its session.lock could not be tested
};

struct Listing {
  std::vector<Target> files;
  std::vector<World> worlds;
  std::vector<std::string> unreadable;  // folders of a world that could not be read
  std::map<std::pair<uint64_t, uint64_t>, size_t> taken;  // the files listed, by device and inode: where in `files`
};

// Lists the file at `path` (whatever is there: its run says what it is not),
// unless it was listed before; another name of a file listed before is
// noted as such.
void addFile(const std::string& path, Target::Kind kind, Listing& out);

// Whether `path` is a world's folder: one holding level.dat, region/,
// dimensions/ or a dimension's region folder (DIM-1/region, DIM1/region,
// DIM<n>/region; a server's nether or end is a world folder of its own, as
// Bukkit and Paper keep them).
bool isWorld(const std::string& path);

// The worlds in a folder that is none (a server's: world, world_nether,
// world_the_end): its folders that hold level.dat and are worlds, sorted.
std::vector<std::string> worldsIn(const std::string& path);

// Whether `path` is a folder of region files (a world's region/ or
// entities/), and no world.
bool isRegionFolder(const std::string& path);

// Appends the files of the world at `world`, in a fixed order, each to be
// looked at everywhere: the region files (r.X.Z.mca, r.X.Z.mcr) of region/,
// DIM-1/region, DIM1/region, every DIM<n>/region, and every dimension under
// dimensions/ (dimensions/<namespace>/<path...>/region), those of each
// dimension's entities/, playerdata/*.dat and level.dat. Sorted by path,
// files first and links after them; a file reached before (through another
// path or world) is passed over, a link that leads nowhere is not (its run
// says so). Other names (macOS's "._" files, backups) are passed over
// without a word. The world is added to `out.worlds`.
void listWorld(const std::string& world, Listing& out);

// Appends the region files of a region folder, as a world's are.
void listRegionFolder(const std::string& folder, Listing& out);

// The world a file or folder lies in: the nearest folder above it (or it)
// that holds level.dat or session.lock, within a few levels; "" for none.
std::string worldAbove(const std::string& path);

// Tests every world's session.lock, and adds as worlds those that the
// files named alone and region folders lie in, so that none is written
// while a game holds it.
void testLocks(Listing& out);

}  // namespace app
