#include "app/world.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fsio/files.h"
#include "fsio/replacement.h"

namespace app {

namespace {

bool isFolder(const std::string& path) {
  fsio::FileInfo info;
  return fsio::infoAt(path, info) && info.type == fsio::FileInfo::folder;
}

bool isThere(const std::string& path) {
  fsio::FileInfo info;
  return fsio::infoAt(path, info);
}

bool isLink(const std::string& path) {
  fsio::FileInfo info;
  return fsio::linkInfoAt(path, info) && info.type == fsio::FileInfo::link;
}

// What stands at a path where a world may keep a folder.
enum class At { nothing, folder, other, unreadable };

At whatIsAt(const std::string& path) {
  fsio::FileInfo info;
  if (fsio::infoAt(path, info)) return info.type == fsio::FileInfo::folder ? At::folder : At::other;
  // Not there at all, or under a file; a link that leads nowhere, or a
  // folder that may not be entered, is there but cannot be read.
  if ((errno == ENOENT || errno == ENOTDIR) && !fsio::linkInfoAt(path, info)) return At::nothing;
  return At::unreadable;
}

bool isDigits(const std::string& text, size_t from, size_t to) {
  if (from < to && text[from] == '-') ++from;
  if (from >= to) return false;
  for (size_t i = from; i < to; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// r.X.Z.mca or r.X.Z.mcr, as the game names its region files.
bool isRegionName(const std::string& name) {
  if (name.size() < 9 || name.compare(0, 2, "r.") != 0) return false;
  const std::string end = name.substr(name.size() - 4);
  if (end != ".mca" && end != ".mcr") return false;
  const size_t dot = name.find('.', 2);
  return dot < name.size() - 4 && isDigits(name, 2, dot) && isDigits(name, dot + 1, name.size() - 4);
}

bool isPlayerName(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".dat") == 0 && name.compare(0, 2, "._") != 0;
}

struct Found {
  std::string path;
  bool link;
  bool playerFile;
};

// The names in a folder; false when it could not be read (whole: the
// names read before a failure are kept).
bool namesIn(const std::string& folder, std::vector<std::string>& names) { return fsio::folderEntries(folder, names); }

// The files of `folder` whose names `wanted` takes, whatever they are (a
// link that leads nowhere, a folder or a FIFO under such a name is reported
// by its run). A folder that is not there holds none; one that cannot be
// read is noted.
void listFolder(const std::string& folder, bool (*wanted)(const std::string&), bool playerFiles,
                std::vector<Found>& found, Listing& out) {
  fsio::restoreSetAside(folder);
  const At at = whatIsAt(folder);
  if (at == At::unreadable) out.unreadable.push_back(folder);
  if (at != At::folder) return;
  std::vector<std::string> names;
  if (!namesIn(folder, names)) out.unreadable.push_back(folder);
  for (const std::string& name : names) {
    if (!wanted(name)) continue;
    const std::string path = fsio::joined(folder, name);
    found.push_back({path, isLink(path), playerFiles});
  }
}

// The region and entity folders under dimensions/, as deep as they lie,
// through links to folders (each folder once). A dimension's path may end
// in "region" itself (mypack:sub/region keeps its chunks in
// dimensions/mypack/sub/region/region): such a folder is looked into too.
void listDimensions(const std::string& folder, int depth, std::vector<std::string>& folders,
                    std::set<std::pair<uint64_t, uint64_t>>& seen, Listing& out, bool regionFolder = false) {
  fsio::FileInfo info;
  if (depth > 16 || !fsio::infoAt(folder, info) || !seen.insert({info.device, info.inode}).second) return;
  std::vector<std::string> names;
  if (!namesIn(folder, names)) out.unreadable.push_back(folder);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = fsio::joined(folder, name);
    const At at = whatIsAt(path);
    // (In a region folder, what is no folder is its files: their runs say what is wrong with them.)
    if (at == At::unreadable && !regionFolder) out.unreadable.push_back(path);
    if (at != At::folder) continue;
    const bool region = depth >= 2 && (name == "region" || name == "entities");
    if (region) folders.push_back(path);
    listDimensions(path, depth + 1, folders, seen, out, region);
  }
}

// The name a path stands for, as a folder's real path and a name in it: a
// symbolic link stands for what it leads to. "" where it cannot be known.
std::string entryOf(const std::string& path) {
  if (isLink(path)) return fsio::realPathOf(path);
  const std::string folder = fsio::realPathOf(fsio::directoryOf(path));
  if (folder.empty()) return "";
  return folder + (folder.back() == '/' ? "" : "/") + fsio::baseNameOf(path);
}

// DIM-1, DIM1 and, as mod loaders up to 1.15 name theirs, DIM and any integer.
bool isDimensionName(const std::string& name) {
  return name.size() > 3 && name.compare(0, 3, "DIM") == 0 && isDigits(name, 3, name.size());
}

// Adds what was found, sorted by path: each file by its own name where it
// is found under it, else by the first link to it; all of a world's run.
void addFound(std::vector<Found>& found, int world, Listing& out) {
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.path < b.path; });
  for (const bool links : {false, true}) {
    for (const Found& file : found) {
      if (file.link != links) continue;
      const size_t before = out.files.size();
      addFile(file.path, file.playerFile ? Target::playerFile : Target::region, out);
      if (out.files.size() > before) {
        out.files.back().everywhere = true;
        out.files.back().world = world;
      }
    }
  }
}

bool holdsRegionFiles(const std::string& folder) {
  std::vector<std::string> names;
  namesIn(folder, names);
  return std::any_of(names.begin(), names.end(), isRegionName);
}

}  // namespace

bool isWorld(const std::string& path) {
  if (!isFolder(path)) return false;
  if (isThere(path + "/level.dat") || isFolder(path + "/region") || isFolder(path + "/dimensions")) {
    return true;
  }
  std::vector<std::string> names;
  namesIn(path, names);
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& name) { return isDimensionName(name) && isFolder(path + "/" + name + "/region"); });
}

std::vector<std::string> worldsIn(const std::string& path) {
  std::vector<std::string> worlds;
  if (!isFolder(path) || isWorld(path)) return worlds;
  std::vector<std::string> names;
  namesIn(path, names);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string world = fsio::joined(fsio::withoutTrailingSeparators(path), name);
    if (isThere(world + "/level.dat") && isWorld(world)) worlds.push_back(world);
  }
  return worlds;
}

bool isRegionFolder(const std::string& path) { return isFolder(path) && !isWorld(path) && holdsRegionFiles(path); }

void listWorld(const std::string& named, Listing& out) {
  const std::string world = fsio::withoutTrailingSeparators(named);
  const int index = static_cast<int>(out.worlds.size());
  out.worlds.push_back(World{world, "", false, false});
  std::vector<std::string> regions;
  std::vector<std::string> names;
  namesIn(world, names);
  for (const std::string& name : names) {
    if (name != "DIM-1" && name != "DIM1" && isDimensionName(name)) regions.push_back(fsio::joined(world, name));
  }
  std::sort(regions.begin(), regions.end());
  regions.insert(regions.begin(), {world, fsio::joined(world, "DIM-1"), fsio::joined(world, "DIM1")});
  for (std::string& dimension : regions) dimension = fsio::joined(dimension, "region");
  const size_t dimensionCount = regions.size();
  for (size_t i = 0; i < dimensionCount; ++i) {
    regions.push_back(regions[i].substr(0, regions[i].size() - 6) + "entities");
  }
  const std::string dimensions = fsio::joined(world, "dimensions");
  std::set<std::pair<uint64_t, uint64_t>> seen;
  if (const At at = whatIsAt(dimensions); at == At::folder) {
    listDimensions(dimensions, 0, regions, seen, out);
  } else if (at == At::unreadable) {
    out.unreadable.push_back(dimensions);
  }
  std::vector<Found> found;
  for (const std::string& folder : regions) listFolder(folder, isRegionName, false, found, out);
  listFolder(fsio::joined(world, "playerdata"), isPlayerName, true, found, out);
  fsio::FileInfo info;
  const std::string levelDat = fsio::joined(world, "level.dat");
  if (fsio::linkInfoAt(levelDat, info)) found.push_back({levelDat, info.type == fsio::FileInfo::link, true});
  addFound(found, index, out);
}

void listRegionFolder(const std::string& named, Listing& out) {
  std::vector<Found> found;
  listFolder(fsio::withoutTrailingSeparators(named), isRegionName, false, found, out);
  addFound(found, -1, out);
}

std::string worldAbove(const std::string& path) {
  std::string at = fsio::realPathOf(path);
  if (at.empty()) at = fsio::realPathOf(fsio::directoryOf(path));
  if (at.empty()) return "";
  for (int up = 0; up < 5; ++up) {
    if (isThere(at + "/level.dat") || isThere(at + "/session.lock")) return at;
    const std::string above = fsio::directoryOf(at);
    if (above == at) break;  // the root
    at = above;
  }
  return "";
}

void testLocks(Listing& out) {
  for (World& world : out.worlds) {
    world.real = fsio::realPathOf(world.path);
    if (world.real.empty()) world.real = world.path;
  }
  // The world a name really lies in (through links), by its folder: a
  // world's files share a few folders.
  std::map<std::string, int> byFolder;
  auto worldOf = [&](const std::string& name) {
    const std::string folder = fsio::directoryOf(name);
    if (const auto it = byFolder.find(folder); it != byFolder.end()) return it->second;
    const std::string above = worldAbove(name);
    int index = -1;
    if (!above.empty()) {
      const auto known =
          std::find_if(out.worlds.begin(), out.worlds.end(), [&](const World& w) { return w.real == above; });
      index = static_cast<int>(known - out.worlds.begin());
      if (known == out.worlds.end()) out.worlds.push_back(World{above, above, false, false});
    }
    byFolder[folder] = index;
    return index;
  };
  for (Target& file : out.files) {
    const int lies = worldOf(file.entry.empty() ? file.path : file.entry);
    if (lies >= 0) file.world = lies;
    for (const std::string& name : file.otherNames) worldOf(name);
  }
  for (World& world : out.worlds) {
    const fsio::Lock lock = fsio::lockOf(world.real + "/session.lock");
    world.held = lock == fsio::Lock::held;
    world.unknown = lock == fsio::Lock::unknown;
  }
}

void addFile(const std::string& path, Target::Kind kind, Listing& out) {
  fsio::restoreSetAside(fsio::directoryOf(path));
  fsio::FileInfo info;
  if (!fsio::infoAt(path, info)) {
    out.files.push_back({path, kind, 0, {}, ""});
    return;
  }
  const std::string entry = entryOf(path);
  const auto [at, added] = out.taken.emplace(std::make_pair(info.device, info.inode), out.files.size());
  if (added) {
    out.files.push_back({path, kind, info.size, {}, entry});
    return;
  }
  // Named before: it runs once, and a name of its own is given the repair too.
  Target& first = out.files[at->second];
  if (!entry.empty() && entry != first.entry &&
      std::find(first.otherNames.begin(), first.otherNames.end(), entry) == first.otherNames.end()) {
    first.otherNames.push_back(entry);
  }
}

}  // namespace app
