#include "region/player_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "books/places.h"
#include "books/report.h"
#include "nbt/writer.h"
#include "region/codec.h"
#include "region/console.h"
#include "region/region_writer.h"

namespace region {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Lines straight to the output, repairs counted.
struct Printed : books::Report {
  void add(books::Finding kind, const std::string& line) override {
    if (kind == books::Finding::pageRepaired) ++pagesRepaired;
    printMessage("%s", line.c_str());
  }
  long pagesRepaired = 0;
};

}  // namespace

bool isPlayerFile(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".dat") == 0;
}

PlayerFile::~PlayerFile() {
  if (fd_ >= 0) close(fd_);
}

bool PlayerFile::load(const char* path) {
  // Without waiting: opening a FIFO for reading would block until a writer came.
  fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0 || fstat(fd_, &opened_) != 0 || !S_ISREG(opened_.st_mode)) {
    printMessage("Error: unable to open file '%s'!\n", path);
    return false;
  }
  if (static_cast<uint64_t>(opened_.st_size) > kMaxChunkBytes) {
    printMessage("Error: file '%s' is larger than %zu MiB, far beyond any file the game writes; it is left as it is\n",
                 path, kMaxChunkBytes >> 20);
    return false;
  }
  ByteBuffer stored(static_cast<size_t>(opened_.st_size));
  for (size_t at = 0; at < stored.size();) {
    const ssize_t n = pread(fd_, stored.data() + at, stored.size() - at, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      printMessage("Error: unable to read file '%s'!\n", path);
      return false;
    }
    at += static_cast<size_t>(n);
  }
  size_t consumed;
  const CodecStatus status = inflater_.gunzip(stored.data(), stored.size(), &consumed);
  if (status.outcome == CodecStatus::tooLarge) {
    printMessage("Error: file '%s' decompresses to more than %zu MiB, far beyond any file the game writes; it is left "
                 "as it is\n",
                 path, kMaxChunkBytes >> 20);
    return false;
  }
  if (status.outcome != CodecStatus::ok) {
    printMessage("%s", codecLine(status).c_str());
    printMessage("Error: file '%s' failed to decompress\n", path);
    return false;
  }
  afterGzip_.assign(stored.begin() + static_cast<long>(consumed), stored.end());
  nbt::ByteCursor cursor(inflater_.data(), inflater_.size());
  uint8_t type = nbt::kTagEnd;
  uint16_t nameLength = 0;
  const uint8_t* name = nullptr;
  if (!cursor.readU8(type) || type == nbt::kTagEnd) {
    printMessage("Error: file '%s' contained no root tag!\n", path);
    return false;
  }
  if (!cursor.readU16(nameLength) || !(name = cursor.take(nameLength))) {
    printMessage("Error: file '%s' contained invalid root tag!\n", path);
    return false;
  }
  rootName_.assign(reinterpret_cast<const char*>(name), nameLength);
  switch (tree_.read(type, cursor)) {
    case nbt::Tree::Read::ok:
      break;
    case nbt::Tree::Read::malformed:
      printMessage("Error: file '%s' contained invalid root tag!\n", path);
      return false;
    case nbt::Tree::Read::tooManyTags:
      printMessage("Error: file '%s' holds more than %u tags, far beyond any file the game writes; it is left as it is\n",
                   path, nbt::kMaxTags);
      return false;
  }
  afterRoot_.assign(cursor.position(), inflater_.data() + inflater_.size());
  if (tree_.root().type() != nbt::kTagCompound) {
    printMessage("Error: file '%s' root object malformed!\n", path);
    return false;
  }
  return true;
}

bool PlayerFile::unchanged(const char* path) const {
  struct stat now, named;
  return fstat(fd_, &now) == 0 && sameFile(now, opened_) && stat(path, &named) == 0 && sameFile(named, opened_);
}

int mendPlayerFile(const char* path, const RunOptions& options) {
  PlayerFile file;
  if (!file.load(path)) return 1;
  nbt::Tag root = file.tree().root();
  // level.dat holds the player of a world played alone under Data; a
  // player's own file is named by the player's id.
  std::string owner;
  nbt::Tag player;
  if (nbt::Tag data = nbt::getCompound(root, "Data")) {
    player = nbt::getCompound(data, "Player");
    owner = "the player in " + baseName(path);
  } else {
    player = root;
    const std::string name = baseName(path);
    owner = "player " + name.substr(0, name.size() - 4);
  }
  Printed report;
  // Each player's data says its own version (players are upgraded when they
  // join); level.dat's player may say only the world's.
  books::Inspection inspection(report, nbt::getNumber(player, "DataVersion") ? player : nbt::getCompound(root, "Data"), true);
  const bool repaired = books::walkPlayer(player, owner, inspection);
  if (!repaired) printMessage("No fixable problems found in '%s'.\n", path);
  if (options.check) {
    printMessage("Check: %ld page%s would be repaired in '%s'; the file was not changed.\n", report.pagesRepaired,
                 report.pagesRepaired == 1 ? "" : "s", path);
  }
  if (options.check || !repaired) return 0;

  ByteBuffer serialised, compressed;
  nbt::writeNamedTag(file.rootName(), root, serialised);
  serialised.insert(serialised.end(), file.afterRoot().begin(), file.afterRoot().end());
  const CodecStatus status = gzip(serialised.data(), serialised.size(), compressed);
  compressed.insert(compressed.end(), file.afterGzip().begin(), file.afterGzip().end());
  if (status.outcome != CodecStatus::ok) {
    printMessage("%s", codecLine(status).c_str());
    printMessage("Error: file '%s' failed to compress; it is left as it was!\n", path);
    return 1;
  }
  auto changed = [&] {
    if (file.unchanged(path)) return false;
    printMessage("Error: file '%s' changed while it was being repaired; it is left as it was!\n", path);
    return true;
  };
  return replaceWithBytes(path, file.fd(), changed, compressed);
}

}  // namespace region
