#include "app/mend.h"

#include <algorithm>
#include <cstdio>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "anvil/nbt_file.h"
#include "anvil/region_writer.h"
#include "app/chunk_loader.h"
#include "app/messages.h"
#include "app/rewrite.h"
#include "app/slot_scan.h"
#include "books/places.h"
#include "fsio/files.h"
#include "nbt/writer.h"

namespace app {

namespace {

using anvil::CodecStatus;
using anvil::NewRecord;
using anvil::RegionFile;
using anvil::slotX;
using anvil::slotZ;
using books::Finding;

// Whether a named tag's bytes read back whole, within the reader's limits.
bool readsBack(const ByteBuffer& bytes) {
  nbt::ByteCursor cursor(bytes.data() + 3, bytes.size() - 3);  // past the root's type and empty name
  nbt::Tree tree;
  return tree.read(bytes[0], cursor, [](int, std::string_view) { return false; }) == nbt::Tree::Read::ok;
}

// Makes a repaired chunk's new record by loading and repairing it again (the
// run keeps nothing of a chunk once its lines are out): the tag writer's
// encoding of the repaired tree, compressed afresh.
class RepairAgain : public anvil::RecordSource {
 public:
  RepairAgain(RegionFile& file, const RunOptions& options, Output& out)
      : file_(file), loader_(options.zlibOnly, options.everywhere), out_(out) {}

  NewRecord make(int n, ByteBuffer& record) override {
    struct Silent : books::Report {
      void add(Finding, const std::string&) override {}
    } silent;
    const ChunkLoader::Result result = loader_.load(file_, n, silent, ChunkLoader::Use::rewrite);
    if (result.fatal) return NewRecord::fatal;
    versions_[n] = result.hasTree ? dataVersion(loader_.tree().root()) : -1;
    if (!result.repaired) {
      // The scan repaired it; loading it again must too, unless the file changed.
      out_.print("Warning: Chunk %i,%i did not load as it did a moment ago; it is kept exactly as it was stored\n",
                 slotX(n), slotZ(n));
      kept[n] = true;
      return NewRecord::keepStored;
    }
    // Reserved whole: growing it step by step would hold two copies at once.
    nbt::Tag root = loader_.tree().root();
    serialised_.clear();
    serialised_.reserve(3 + root.payloadSize() + loader_.tree().growth());
    nbt::writeNamedTag("", root, serialised_);
    loader_.release();  // the inflated chunk, not needed beside the serialised one
    // What is written must load as the game loads it, whatever the repair did.
    if (!readsBack(serialised_)) {
      out_.print("Warning: Chunk %i,%i would nest too deep or hold too many tags once repaired; it is kept exactly "
                 "as it was stored\n",
                 slotX(n), slotZ(n));
      kept[n] = true;
      return NewRecord::keepStored;
    }
    // A chunk in its own file goes back there as the region's stub says it is stored.
    const anvil::Slot& slot = file_.slots[n];
    const CodecStatus status = anvil::makeRecord(serialised_.data(), serialised_.size(), record,
                                                 slot.external ? slot.compression : anvil::kZlibCompression);
    if (status.outcome != CodecStatus::ok) {
      out_.write(anvil::codecLine(status));
      if (status.outcome == CodecStatus::streamError) return NewRecord::fatal;
      out_.print("Error: Chunk %i,%i failed to compress\n", slotX(n), slotZ(n));
      kept[n] = true;
      return NewRecord::keepStored;
    }
    return NewRecord::made;
  }

  bool mayHaveOwnFile(int n) override { return versions_[n] >= anvil::kFirstVersionWithChunkFiles; }

  void keptTooLarge(int n, int64_t sectors, TooLarge why) override {
    if (why == TooLarge::unnamed) {
      out_.print("Warning: Chunk %i,%i would need %lld sectors, more than a location entry can describe; it is kept "
                 "exactly as it was stored\n",
                 slotX(n), slotZ(n), static_cast<long long>(sectors));
    } else {
      const std::string version = versions_[n] < 0 ? "no DataVersion" : "DataVersion " + std::to_string(versions_[n]);
      out_.print("Warning: Chunk %i,%i would need %lld sectors once repaired, more than its region can hold, and its "
                 "version of the game (%s, before 1.15) reads no chunk files; it is kept exactly as it was stored\n",
                 slotX(n), slotZ(n), static_cast<long long>(sectors), version.c_str());
    }
    kept[n] = true;
  }

  std::array<bool, anvil::kSlotCount> kept{};  // repaired slots written as they were stored after all

 private:
  // The data version of the game each chunk was last saved by (-1: none, older than 1.9).
  static int dataVersion(nbt::Tag root) {
    const nbt::Tag version = nbt::getNumber(root, "DataVersion");
    return version ? version.numberAsInt() : -1;
  }

  RegionFile& file_;
  std::array<int, anvil::kSlotCount> versions_{};
  ChunkLoader loader_;
  ByteBuffer serialised_;
  Output& out_;
};

// A run for one file, its failures turned into one line: the file stays as it was.
template <typename Run>
int reportingFailures(const char* path, Output& out, Run&& run) {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    out.print("Error: out of memory; file '%s' is left as it was!\n", path);
  } catch (const std::exception& e) {
    out.print("Error: %s; file '%s' is left as it was!\n", e.what(), path);
  }
  return 1;
}

// A file that changed since it was read is not replaced: what was saved since would be lost.
std::function<bool()> changedSince(const char* path, Output& out, std::function<bool()> unchanged) {
  return [path, &out, unchanged] {
    if (unchanged()) return false;
    out.print("Error: file '%s' changed while it was being repaired; it is left as it was!\n", path);
    return true;
  };
}

// Writes slot n's repaired chunk back to its own file, with a region's care.
int rewriteExternal(RegionFile& file, int n, anvil::RecordSource& source, Output& out, const Names& otherNames) {
  ByteBuffer record;
  const NewRecord made = source.make(n, record);
  if (made != NewRecord::made) return made == NewRecord::fatal ? 1 : 0;  // said why; the file stays
  const std::string path = file.externalPath(n);
  const ByteBuffer stream(record.begin() + anvil::kRecordHeaderSize, record.end());
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  const int code = replaceWithBytes(path.c_str(), fd,
                                    changedSince(path.c_str(), out, [&] { return fd >= 0 && file.externalUnchanged(n); }),
                                    stream, out, otherNames);
  if (fd >= 0) close(fd);
  return code;
}

// Writes what a scan repaired: the region and the chunks' own files; counts
// the pages of what was written. `otherNames` are the region's, or with
// `onlySlot` its chunk's own file's.
int writeRepaired(const char* path, RegionFile& file, const RunOptions& options, const ScanResult& scan, int onlySlot,
                  const Names& otherNames, FileResult& result, Output& out) {
  RepairAgain source(file, options, out);
  // A chunk read from its own file goes back there; the region, which
  // holds only its stub, is rewritten only for chunks it holds itself.
  std::vector<int> external;
  bool inRegion = false;
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    anvil::Slot& slot = file.slots[n];
    if (!slot.rewritten) continue;
    if (slot.external) {
      slot.rewritten = false;
      external.push_back(n);
    } else {
      inRegion = true;
    }
  }
  // A file its user may not write stops the run before any is written.
  std::vector<std::string> targets;
  if (inRegion) targets.push_back(path);
  for (int n : external) targets.push_back(file.externalPath(n));
  for (const std::string& target : targets) {
    if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
      out.print("Error: unable to open file '%s' for output!\n", target.c_str());
      return 1;
    }
  }
  // The region first: when it cannot be written, neither is anything else.
  if (inRegion && writeRegionFile(path, file, source, out, changedSince(path, out, [&] { return file.unchanged(path); }),
                                  onlySlot < 0 ? otherNames : Names()) != 0) {
    return 1;
  }
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    if (file.slots[n].rewritten && !source.kept[n]) result.pagesWritten += scan.pagesBySlot[n];
  }
  int code = 0;
  for (int n : external) {
    const int written = rewriteExternal(file, n, source, out, n == onlySlot ? otherNames : Names());
    if (written == 0 && !source.kept[n]) result.pagesWritten += scan.pagesBySlot[n];
    code = std::max(code, written);
  }
  return code;
}

void reportCheck(const char* path, long pages, const RunOptions& options, Output& out) {
  if (pages == 0) out.print("No fixable problems found in '%s'.\n", path);
  if (options.check) {
    out.print("Check: %ld page%s would be repaired in '%s'; the file was not changed.\n", pages, pages == 1 ? "" : "s",
              path);
  }
}

// What a check can know of a rewrite before it writes: a repaired chunk
// that may need more sectors than a location entry counts is made as the
// rewrite would make it, and one that the rewrite would keep as stored is
// said so, as the rewrite says it; its pages are not counted. Returns the
// pages a rewrite would write; false in `whole` when zlib's state broke.
long foreseeRewrite(const char* path, RegionFile& file, const RunOptions& options, const ScanResult& scan, Output& out,
                    bool& whole) {
  int regionX, regionZ;
  const bool named = anvil::regionCoordinates(fsio::baseNameOf(path), regionX, regionZ);
  std::optional<RepairAgain> source;
  ByteBuffer record;
  long pages = scan.pagesRepaired;
  whole = true;
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    const anvil::Slot& slot = file.slots[n];
    if (!slot.rewritten || slot.external ||
        anvil::sectorsFor(anvil::recordBound(scan.encodedBound[n])) <= anvil::kMaxSectorCount) {
      continue;
    }
    if (!source) {
      if (options.loader) options.loader->release();
      source.emplace(file, options, out);
    }
    const NewRecord made = source->make(n, record);
    if (made == NewRecord::fatal) {
      whole = false;
      return pages;
    }
    if (made == NewRecord::made) {
      anvil::keptAsStored(*source, n, anvil::sectorsFor(static_cast<int64_t>(record.size())), named);
    }
    if (source->kept[n]) pages -= scan.pagesBySlot[n];
  }
  return pages;
}

// A region's run, of every slot or of `onlySlot` alone, its lines naming the
// file as `shownAs`.
int mendSlots(RegionFile& file, const char* path, const char* shownAs, int onlySlot, const RunOptions& options,
              const Names& otherNames, FileResult& result, Output& out) {
  file.readExternal = options.everywhere;
  ScanOptions scanOptions{options.zlibOnly, options.everywhere, options.threads, options.spare, options.loader};
  scanOptions.onlySlot = onlySlot;
  const ScanResult scan = scanRegion(file, scanOptions, out);
  result.pagesRepaired = scan.pagesRepaired;
  result.errors = scan.errorLines > 0;
  if (scan.fatal) return 1;
  result.newerLayoutOnly = scan.rootsOfNewerLayout > 0 && scan.rootsWithLevel == 0;
  if (options.check && scan.pagesRepaired > 0) {
    bool whole;
    result.pagesRepaired = foreseeRewrite(path, file, options, scan, out, whole);
    if (!whole) return 1;
  }
  reportCheck(shownAs, result.pagesRepaired, options, out);
  if (options.check || scan.pagesRepaired == 0) return 0;
  // The rewrite loads chunks with a loader of its own: the scan's buffers,
  // as large as the largest chunk, are given back first.
  if (options.loader) options.loader->release();
  return writeRepaired(path, file, options, scan, onlySlot, otherNames, result, out);
}

int floorDiv32(int v) { return v >= 0 ? v / 32 : -((-v + 31) / 32); }

}  // namespace

FileResult mendRegion(const char* path, const RunOptions& options, Output& out, const Names& otherNames) {
  FileResult result;
  result.code = reportingFailures(path, out, [&] {
    RegionFile file;
    if (const anvil::OpenStatus opened = file.open(path); !opened) {
      reportOpen(opened, path, out);
      return 1;
    }
    return mendSlots(file, path, path, -1, options, otherNames, result, out);
  });
  if (result.code != 0) result.errors = true;
  return result;
}

FileResult mendChunkFile(const char* path, const RunOptions& options, Output& out, const Names& otherNames) {
  FileResult result;
  result.code = reportingFailures(path, out, [&] {
    // Only the region's stub says how the file is compressed, and the game
    // reads it only through that stub: the chunk is run as the region's.
    int x = 0, z = 0;
    const std::string name = fsio::baseNameOf(path);
    if (!options.everywhere || std::sscanf(name.c_str(), "c.%d.%d.", &x, &z) != 2 ||
        name != "c." + std::to_string(x) + "." + std::to_string(z) + ".mcc") {
      out.print("Error: '%s' is a chunk's own file, which pagemend --everywhere reads through its region; it is "
                "left as it is\n",
                path);
      return 1;
    }
    const std::string region = fsio::directoryOf(path) + "/r." + std::to_string(floorDiv32(x)) + "." +
                               std::to_string(floorDiv32(z)) + ".mca";
    const int n = (x & 31) + (z & 31) * 32;
    RegionFile file;
    const anvil::OpenStatus opened = file.open(region.c_str());
    uint8_t header[anvil::kRecordHeaderSize];
    const anvil::Slot& slot = file.slots[n];
    if (!opened || slot.offset == 0 || !file.readAt(slot.offset, header, sizeof header) ||
        !(header[4] & anvil::kExternalFlag)) {
      out.print("Error: the region '%s' beside it holds no stub for chunk %d,%d: the game does not read '%s', "
                "which is left as it is\n",
                region.c_str(), x, z, path);
      return 1;
    }
    return mendSlots(file, region.c_str(), path, n, options, otherNames, result, out);
  });
  if (result.code != 0) result.errors = true;
  return result;
}

bool isPlayerFile(const char* path) {
  const size_t length = std::strlen(path);
  return length > 4 && std::strcmp(path + length - 4, ".dat") == 0;
}

FileResult mendPlayerFile(const char* path, const RunOptions& options, Output& out, const Names& otherNames) {
  FileResult result;
  result.code = reportingFailures(path, out, [&] {
    anvil::NbtFile file;
    if (const anvil::NbtFileStatus loaded = file.load(path); !loaded) {
      reportNbtFile(loaded, path, out);
      return 1;
    }
    nbt::Tag root = file.tree().root();
    // level.dat holds the player of a world played alone under Data; a
    // player's own file is named by the player's id.
    const std::string name = fsio::baseNameOf(path);
    std::string owner;
    nbt::Tag player;
    if (nbt::Tag data = nbt::getCompound(root, "Data")) {
      player = nbt::getCompound(data, "Player");
      owner = "the player in " + name;
    } else {
      player = root;
      owner = "player " + name.substr(0, name.size() - 4);
    }
    struct Printed : books::Report {
      explicit Printed(Output& out) : out(out) {}
      void add(Finding kind, const std::string& line) override {
        if (kind == Finding::pageRepaired) ++pages;
        out.write(line);
      }
      Output& out;
      long pages = 0;
    } report(out);
    // Each player's data says its own version (players are upgraded when they
    // join); level.dat's player may say only the world's.
    books::Inspection inspection(report, nbt::getNumber(player, "DataVersion") ? player : nbt::getCompound(root, "Data"),
                                 true);
    const bool repaired = books::walkPlayer(player, owner, inspection);
    result.pagesRepaired = report.pages;
    reportCheck(path, report.pages, options, out);
    if (options.check || !repaired) return 0;
    ByteBuffer bytes;
    const CodecStatus status = file.encode(bytes);
    if (status.outcome != CodecStatus::ok) {
      out.write(anvil::codecLine(status));
      out.print("Error: file '%s' failed to compress; it is left as it was!\n", path);
      return 1;
    }
    const int code = replaceWithBytes(path, file.fd(), changedSince(path, out, [&] { return file.unchanged(path); }),
                                      bytes, out, otherNames);
    if (code == 0) result.pagesWritten = report.pages;
    return code;
  });
  if (result.code != 0) result.errors = true;
  return result;
}

}  // namespace app
