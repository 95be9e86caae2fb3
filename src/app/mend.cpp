#include "app/mend.h"

#include <algorithm>
#include <cstdio>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "anvil/nbt_file.h"
#include "anvil/region_writer.h"
#include "app/chunk_loader.h"
#include "app/messages.h"
#include "app/rewrite.h"
#include "app/slot_scan.h"
#include "repair/chunk_repair.h"
#include "fsio/files.h"
#include "nbt/writer.h"

namespace app {

namespace {

using anvil::CodecStatus;
using anvil::NewRecord;
using anvil::RegionFile;
using anvil::slotX;
using anvil::slotZ;
using books::Kind;
using books::Subject;

// The records the scan made of the chunks it repaired, handed to the
// writer; and what a rewrite says of a chunk kept as it was stored.
class ScannedRecords : public anvil::RecordSource {
 public:
  ScannedRecords(RegionFile& file, const ScanResult& scan, const RunOptions& options, const Voice& voice, Output& out)
      : file_(file), scan_(scan), options_(options), voice_(voice), out_(out) {}

  NewRecord make(int n, ByteBuffer& record) override {
    if (scan_.kept[n] != Subject::pageRepaired) return keep(n, scan_.kept[n], scan_.compressed[n]);
    // The new record was made from the record as the scan read it: a record
    // that changed since (another program wrote the file in place) is kept.
    ByteBuffer stored;
    if (file_.readRecord(n, stored) && anvil::recordDigest(stored) == scan_.digests[n] && scan_.made[n]) {
      record = *scan_.made[n];
      return NewRecord::made;
    }
    // A chunk's own file the game saved anew is repaired as it is now; so is
    // a chunk the scan left to the rewrite for its size.
    stored = ByteBuffer();
    struct Silent : books::Findings {
      void add(books::Finding&&) override {}
    } silent;
    if (!loader_) loader_.emplace(options_.zlibOnly, options_.everywhere, options_.upgrade);
    const ChunkLoader::Result again = loader_->load(file_, n, silent, ChunkLoader::Use::remake);
    if (again.fatal) return NewRecord::fatal;
    if (again.made) {
      record = std::move(loader_->record());
      loader_->release();  // a chunk made here is a large one: its buffers are not kept for the next
      return NewRecord::made;
    }
    return keep(n, again.repaired && again.kept != Subject::pageRepaired ? again.kept : Subject::keptChanged,
                again.compressed);
  }

  bool mayHaveOwnFile(int n) override { return scan_.versions[n] >= anvil::kFirstVersionWithChunkFiles; }

  void keptTooLarge(int n, int64_t sectors, TooLarge why) override {
    books::Finding finding;
    finding.value = sectors;
    finding.version = scan_.versions[n];
    say(why == TooLarge::unnamed ? Subject::keptTooManySectors : Subject::keptTooOld, n, Kind::warning, nullptr,
        std::move(finding));
    kept[n] = true;
  }

  std::array<bool, anvil::kSlotCount> kept{};  // repaired slots written as they were stored after all

 private:
  // Slot n's repaired chunk is kept as it was stored, for `why`; a chunk that
  // failed to compress says zlib's line first, and a broken stream ends the rewrite.
  NewRecord keep(int n, Subject why, const CodecStatus& compressed) {
    if (why == Subject::keptUncompressed) {
      const bool broken = compressed.outcome == CodecStatus::streamError;
      say(broken ? Subject::codecStreamBroken : Subject::codecCall, n, Kind::chunkError, &compressed);
      if (broken) return NewRecord::fatal;
    }
    say(why, n, why == Subject::keptUncompressed ? Kind::chunkError : Kind::warning);
    kept[n] = true;
    return NewRecord::keepStored;
  }

  void say(Subject subject, int n, Kind kind, const CodecStatus* codec = nullptr, books::Finding&& finding = {}) {
    finding.kind = kind;
    finding.subject = subject;
    finding.inChunk = true;
    finding.chunkX = slotX(n);
    finding.chunkZ = slotZ(n);
    if (codec) {
      finding.call = codec->call;
      finding.code = codec->code;
    }
    out_.write(voice_.say(finding));
  }

  RegionFile& file_;
  const ScanResult& scan_;
  const RunOptions& options_;
  std::optional<ChunkLoader> loader_;  // only for a record that changed since the scan read it
  const Voice& voice_;
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
  const int fd = fsio::openToRead(path);
  const int code = replaceWithBytes(path.c_str(), fd,
                                    changedSince(path.c_str(), out, [&] { return fd >= 0 && file.externalUnchanged(n); }),
                                    stream, out, otherNames);
  fsio::closeFile(fd);
  return code;
}

// Writes what a scan repaired: the region and the chunks' own files; counts
// the pages of what was written. `otherNames` are the region's, or with
// `onlySlot` its chunk's own file's.
int writeRepaired(const char* path, RegionFile& file, const RunOptions& options, const ScanResult& scan,
                  const Voice& voice, int onlySlot,
                  const Names& otherNames, FileResult& result, Output& out) {
  ScannedRecords source(file, scan, options, voice, out);
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
    if (!fsio::mayWrite(target)) {
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

void reportCheck(const char* path, long pages, bool repaired, const RunOptions& options, Output& out) {
  if (options.json || (options.quiet && !repaired)) return;  // a file's result is an object of its own
  if (!repaired) out.print("No fixable problems found in '%s'.\n", path);
  if (options.check) {
    out.print("Check: %ld page%s would be repaired in '%s'; the file was not changed.\n", pages, pages == 1 ? "" : "s",
              path);
  }
}

// What a check can know of a rewrite before it writes: a repaired chunk
// that may need more sectors than a location entry counts was made as the
// rewrite would make it, and one that the rewrite would keep as stored is
// said so, as the rewrite says it; its pages are not counted. Returns the
// pages a rewrite would write; false in `whole` when zlib's state broke.
long foreseeRewrite(const char* path, RegionFile& file, const RunOptions& options, const ScanResult& scan,
                    const Voice& voice, Output& out, bool& whole) {
  int regionX, regionZ;
  const bool named = anvil::regionCoordinates(fsio::baseNameOf(path), regionX, regionZ);
  ScannedRecords source(file, scan, options, voice, out);
  ByteBuffer record;
  long pages = scan.pagesRepaired;
  whole = true;
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    const anvil::Slot& slot = file.slots[n];
    if (!slot.rewritten || slot.external ||
        anvil::sectorsFor(anvil::recordBound(scan.encodedBound[n])) <= anvil::kMaxSectorCount) {
      continue;
    }
    const NewRecord made = source.make(n, record);
    if (made == NewRecord::fatal) {
      whole = false;
      return pages;
    }
    if (made == NewRecord::made) {
      anvil::keptAsStored(source, n, anvil::sectorsFor(static_cast<int64_t>(record.size())), named);
    }
    if (source.kept[n]) pages -= scan.pagesBySlot[n];
  }
  return pages;
}

// A region's run, of every slot or of `onlySlot` alone, its lines naming the
// file as `shownAs`.
int mendSlots(RegionFile& file, const char* path, const char* shownAs, int onlySlot, const RunOptions& options,
              const Names& otherNames, FileResult& result, Output& out) {
  file.readExternal = options.everywhere;
  ScanOptions scanOptions;
  scanOptions.zlibOnly = options.zlibOnly;
  scanOptions.everywhere = options.everywhere;
  scanOptions.upgrade = options.upgrade;
  scanOptions.threads = options.threads;
  scanOptions.recordBudget = options.recordBudget;
  scanOptions.spare = options.spare;
  scanOptions.loader = options.loader;
  scanOptions.onlySlot = onlySlot;
  scanOptions.rewrite = !options.check;
  scanOptions.voice = {options.json, shownAs};
  const ScanResult scan = scanRegion(file, scanOptions, out);
  result.pagesRepaired = scan.pagesRepaired;
  result.books = scan.books;
  result.errors = scan.errorLines > 0;
  if (scan.fatal) return 1;
  if (options.check && scan.repairs > 0) {
    bool whole;
    result.pagesRepaired = foreseeRewrite(path, file, options, scan, scanOptions.voice, out, whole);
    if (!whole) return 1;
  }
  // (A title shortened counts, though its chunk may be kept as stored.)
  result.repairsDue = result.pagesRepaired > 0 || scan.repairs > scan.pagesRepaired;
  reportCheck(shownAs, result.pagesRepaired, result.repairsDue, options, out);
  if (options.check || scan.repairs == 0) return 0;
  // The scan's buffers, as large as the largest chunk, are given back first.
  if (options.loader) options.loader->release();
  return writeRepaired(path, file, options, scan, scanOptions.voice, onlySlot, otherNames, result, out);
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
    const std::string region = fsio::joined(fsio::directoryOf(path), "r." + std::to_string(floorDiv32(x)) + "." +
                                                                  std::to_string(floorDiv32(z)) + ".mca");
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
    anvil::NbtFileStatus loaded = file.load(path, false);
    if (!loaded) {
      reportNbtFile(loaded, path, out);
      return 1;
    }
    // A player's own file is named by the player's id; level.dat holds the
    // player of a world played alone.
    const std::string name = fsio::baseNameOf(path);
    struct Said : books::Findings {
      explicit Said(const Voice& voice, Output& out) : voice(voice), out(out) {}
      void add(books::Finding&& finding) override { out.write(voice.say(finding)); }
      void bookExamined() override { ++books; }
      long books = 0;
      const Voice& voice;
      Output& out;
    };
    const Voice voice{options.json, path};
    Said said(voice, out);
    repair::ChunkRepair repair;
    ByteBuffer tree;
    size_t end = 0;
    const repair::Outcome outcome = repair.player(file.data(), file.size(), "player " + name.substr(0, name.size() - 4),
                                                  "the player in " + name, repair::Options{true, options.upgrade}, said,
                                                  options.check ? nullptr : &tree, &end);
    if (!outcome.root) {
      loaded.fault = anvil::NbtFileStatus::unread;
      loaded.root = outcome.root;
      reportNbtFile(loaded, path, out);
      return 1;
    }
    result.pagesRepaired = outcome.pagesRepaired;
    result.books = said.books;
    result.repairsDue = outcome.repaired;
    reportCheck(path, outcome.pagesRepaired, outcome.repaired, options, out);
    if (options.check || !outcome.repaired) return 0;
    if (outcome.keptTooDeep) {
      out.print("Warning: file '%s' would nest too deep or hold too many tags once repaired; it is left as it was\n",
                path);
      return 0;
    }
    ByteBuffer bytes;
    const CodecStatus status = file.encode(tree, end, bytes);
    if (status.outcome != CodecStatus::ok) {
      out.write(codecLine(status));
      out.print("Error: file '%s' failed to compress; it is left as it was!\n", path);
      return 1;
    }
    const int code = replaceWithBytes(path, file.fd(), changedSince(path, out, [&] { return file.unchanged(path); }),
                                      bytes, out, otherNames);
    if (code == 0) result.pagesWritten = outcome.pagesRepaired;
    return code;
  });
  if (result.code != 0) result.errors = true;
  return result;
}

}  // namespace app
