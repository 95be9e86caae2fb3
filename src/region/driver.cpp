#include "region/driver.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "nbt/writer.h"
#include "region/chunk_loader.h"
#include "region/console.h"
#include "region/player_file.h"
#include "region/region_writer.h"

namespace region {

namespace {

using books::Finding;

// Lets threads that load slots side by side write their lines in slot order.
// A slot's lines go out once every slot before it is out; a thread that
// finishes a slot early leaves its lines here and goes on, unless too many
// wait already, and a thread whose slot has many lines waits for the slot's
// turn and then writes them as they come.
class Ordered {
 public:
  // Waits until item k is next; false when the run was stopped before.
  bool awaitTurn(size_t k) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || turn_ == k; });
    return !stopped_;
  }

  // Item k is done, with these last lines. The lines go out now or once the
  // items before it are out; false when the run was stopped first. After
  // `stopAfter` nothing more is written.
  bool finish(size_t k, std::string&& lines, bool stopAfter) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (turn_ != k && !stopAfter && !stopped_ && waitingBytes_ + lines.size() <= kWaitingLimit) {
      waitingBytes_ += lines.size();
      waiting_.emplace(k, std::move(lines));
      return true;
    }
    changed_.wait(lock, [&] { return stopped_ || turn_ == k; });
    if (stopped_) return false;
    write(lines);
    ++turn_;
    // Items that finished early and are next now go out too.
    for (auto it = waiting_.begin(); it != waiting_.end() && it->first == turn_; it = waiting_.erase(it)) {
      write(it->second);
      waitingBytes_ -= it->second.size();
      ++turn_;
    }
    std::fflush(stdout);
    if (stopAfter) stopped_ = true;
    changed_.notify_all();
    return true;
  }

  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

  // Straight to the output, for an item whose turn it is.
  static void write(const std::string& lines) { std::fwrite(lines.data(), 1, lines.size(), stdout); }

 private:
  static constexpr size_t kWaitingLimit = size_t{1} << 20;

  std::mutex mutex_;
  std::condition_variable changed_;
  size_t turn_ = 0;
  bool stopped_ = false;
  std::map<size_t, std::string> waiting_;
  size_t waitingBytes_ = 0;
};

// The lines of one slot, kept until its turn; a slot with many lines waits
// for its turn and writes them as they come.
class SlotReport : public books::Report {
 public:
  SlotReport(Ordered& ordered, size_t item) : ordered_(ordered), item_(item) {}

  void add(Finding kind, const std::string& line) override {
    if (kind == Finding::pageRepaired) ++pagesRepaired;
    pending_ += line;
    if (pending_.size() < kBufferLimit) return;
    if (!haveTurn_) haveTurn_ = ordered_.awaitTurn(item_);
    if (haveTurn_) Ordered::write(pending_);
    pending_.clear();  // written, or never to be: the run was stopped
  }

  bool finish(bool stopAfter) { return ordered_.finish(item_, std::move(pending_), stopAfter); }

  long pagesRepaired = 0;

 private:
  static constexpr size_t kBufferLimit = size_t{64} << 10;

  Ordered& ordered_;
  size_t item_;
  std::string pending_;
  bool haveTurn_ = false;
};

// What the first of the slots that share one stored record found, for the
// others: loading it again for each would, for a hostile file, inflate the
// same bomb up to 1,024 times.
struct SharedRecord {
  int first = -1;  // the slot that loads it
  int others = 0;  // the later slots still to be told
  ChunkLoader::Result result;
  std::vector<std::pair<Finding, std::string>> lines;
  size_t bytes = 0;
  bool kept = true;  // false once the lines passed the limit: the others load it themselves

  static constexpr size_t kLinesLimit = size_t{16} << 20;

  // Passes the first slot's lines on, keeping them while they are few enough.
  struct Recorder : books::Report {
    Recorder(SharedRecord& shared, books::Report& to) : shared(shared), to(to) {}
    void add(Finding kind, const std::string& line) override {
      to.add(kind, line);
      if (!shared.kept) return;
      shared.bytes += line.size();
      shared.kept = shared.bytes <= kLinesLimit;
      if (shared.kept) {
        shared.lines.emplace_back(kind, line);
      } else {
        shared.lines = {};
      }
    }
    SharedRecord& shared;
    books::Report& to;
  };

  // The first slot's lines for slot n: a line about the chunk names slot n.
  void tell(int n, books::Report& report) const {
    const std::string was = "Error: Chunk " + std::to_string(slotX(first)) + "," + std::to_string(slotZ(first)) + " ";
    const std::string now = "Error: Chunk " + std::to_string(slotX(n)) + "," + std::to_string(slotZ(n)) + " ";
    for (const auto& [kind, line] : lines) {
      report.add(kind, line.compare(0, was.size(), was) == 0 ? now + line.substr(was.size()) : line);
    }
  }
};

struct Scan {
  Scan(RegionFile& file, const RunOptions& options) : file(file), options(options) {}

  RegionFile& file;
  const RunOptions& options;
  std::vector<int> items;  // the slots that hold a record, in slot order
  std::map<int64_t, SharedRecord> shared;  // records that several slots point at, by offset
  std::atomic<size_t> next{0};
  Ordered ordered;
  std::atomic<bool> fatal{false};
  std::atomic<long> pagesRepaired{0};
  std::atomic<int> rootsWithLevel{0}, rootsOfNewerLayout{0};
  std::mutex failureMutex;
  std::exception_ptr failure;

  // A second thread pays for itself only where there are many chunks, as it
  // takes a while to get going (on some virtual machines a tenth of a
  // millisecond, a good part of what a small region takes in all).
  static constexpr size_t kItemsLeftForAHelper = 16;
  static constexpr int64_t kLargestFileForTwoThreads = int64_t{256} << 20;

  int threadLimit() const {
    // The first of the slots sharing a record must be done before the others.
    if (!shared.empty()) return 1;
    // Each thread holds one record as stored, and records may overlap: in a
    // file far larger than the game writes, two could each take most of it.
    if (file.size() > kLargestFileForTwoThreads) return 1;
    if (options.threads > 0) return options.threads;
    // The processors this process may run on, not all the machine has.
    cpu_set_t usable;
    if (sched_getaffinity(0, sizeof usable, &usable) != 0) return 1;
    return std::clamp(CPU_COUNT(&usable), 1, 2);
  }

  // Placed on another processor from its first instant: started where this
  // thread runs, as the system tends to, it takes that processor and this
  // thread waits, on some virtual machines for milliseconds, to be moved.
  // Throws std::system_error when the system has no thread to spare.
  pthread_t startHelper() {
    pthread_attr_t attributes;
    if (int error = pthread_attr_init(&attributes)) throw std::system_error(error, std::generic_category());
    cpu_set_t others;
    const int here = sched_getcpu();
    if (here >= 0 && sched_getaffinity(0, sizeof others, &others) == 0 && CPU_COUNT(&others) > 1) {
      CPU_CLR(here, &others);
      pthread_attr_setaffinity_np(&attributes, sizeof others, &others);
    }
    pthread_t helper;
    const int error = pthread_create(
        &helper, &attributes, [](void* scan) -> void* { static_cast<Scan*>(scan)->work(); return nullptr; }, this);
    pthread_attr_destroy(&attributes);
    if (error) throw std::system_error(error, std::generic_category());
    return helper;
  }

  // The main thread's work, which starts helpers as it finds them worthwhile.
  void work(std::vector<pthread_t>* helpers = nullptr) {
    try {
      ChunkLoader loader(options.zlibOnly, options.everywhere);
      int limit = helpers ? threadLimit() : 1;
      if (helpers) helpers->reserve(static_cast<size_t>(limit));  // a started helper is always joined
      for (size_t k; (k = next++) < items.size();) {
        if (helpers && static_cast<int>(helpers->size()) + 1 < limit &&
            (options.threads > 0 || items.size() - k > kItemsLeftForAHelper)) {
          try {
            helpers->push_back(startHelper());
          } catch (const std::system_error&) {
            limit = 1;  // the system has no thread to spare: go on alone
          }
        }
        SlotReport report(ordered, k);
        const ChunkLoader::Result result = load(loader, items[k], report);
        if (result.repaired) file.slots[items[k]].rewritten = true;
        if (result.fatal) fatal = true;
        if (result.whole) ++rootsWithLevel;  // "whole": it holds a Level
        if (result.newerLayout) ++rootsOfNewerLayout;
        const bool written = report.finish(result.fatal);
        pagesRepaired += report.pagesRepaired;
        if (!written || result.fatal) return;
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureMutex);
      if (!failure) failure = std::current_exception();
      ordered.stop();
    }
  }

  ChunkLoader::Result load(ChunkLoader& loader, int n, books::Report& report) {
    const auto it = shared.find(file.slots[n].offset);
    if (it == shared.end()) return loader.load(file, n, report, ChunkLoader::Use::findBooks);
    SharedRecord& record = it->second;
    if (record.first == n) {
      SharedRecord::Recorder recorder(record, report);
      record.result = loader.load(file, n, recorder, ChunkLoader::Use::findBooks);
      return record.result;
    }
    ChunkLoader::Result result;
    // A stub names a chunk file by the slot's own position: each slot has its own.
    if (record.kept && !file.slots[record.first].external) {
      record.tell(n, report);
      result = record.result;
      if (result.whole) {
        const Slot& first = file.slots[record.first];
        file.slots[n].extent = first.extent;
        file.slots[n].checksumMissing = first.checksumMissing;
        file.slots[n].checksum = first.checksum;
      }
    } else {
      result = loader.load(file, n, report, ChunkLoader::Use::findBooks);
    }
    if (--record.others == 0) shared.erase(it);
    return result;
  }

  void run() {
    std::map<int64_t, SharedRecord> byOffset;
    for (int n = 0; n < kSlotCount; ++n) {
      if (file.slots[n].offset == 0) continue;
      items.push_back(n);
      SharedRecord& record = byOffset[file.slots[n].offset];
      if (record.first < 0) {
        record.first = n;
      } else {
        ++record.others;
      }
    }
    for (auto& [offset, record] : byOffset) {
      if (record.others > 0) shared.emplace(offset, std::move(record));
    }
    std::vector<pthread_t> helpers;
    work(&helpers);
    for (pthread_t t : helpers) pthread_join(t, nullptr);
    if (failure) std::rethrow_exception(failure);
  }
};

// Makes a repaired chunk's new record by loading and repairing it again (the
// run keeps nothing of a chunk once its lines are out): the tag writer's
// encoding of the repaired tree, compressed afresh.
// Whether a named tag's bytes read back whole, within the reader's limits.
bool readsBack(const ByteBuffer& bytes) {
  nbt::ByteCursor cursor(bytes.data() + 3, bytes.size() - 3);  // past the root's type and empty name
  nbt::Tree tree;
  return tree.read(bytes[0], cursor, [](int, std::string_view) { return false; }) == nbt::Tree::Read::ok;
}

class RepairAgain : public RecordSource {
 public:
  RepairAgain(RegionFile& file, const RunOptions& options)
      : file_(file), loader_(options.zlibOnly, options.everywhere) {}

  NewRecord make(int n, ByteBuffer& record) override {
    struct Silent : books::Report {
      void add(Finding, const std::string&) override {}
    } silent;
    const ChunkLoader::Result result = loader_.load(file_, n, silent, ChunkLoader::Use::rewrite);
    if (result.fatal) return NewRecord::fatal;
    if (!result.repaired) {
      // The scan repaired it; loading it again must too, unless the file changed.
      printMessage("Warning: Chunk %i,%i did not load as it did a moment ago; it is kept exactly as it was stored\n",
                   slotX(n), slotZ(n));
      return NewRecord::keepStored;
    }
    // Reserved whole: growing it step by step would hold two copies at once.
    nbt::Tag root = loader_.tree().root();
    serialised_.clear();
    serialised_.reserve(3 + root.payloadSize() + loader_.tree().growth());
    nbt::writeNamedTag("", root, serialised_);
    loader_.release();  // the inflated chunk, not needed beside the serialised one
    // What is written must load as the game loads it: a text component
    // made of a page's JSON adds nesting, which the game bounds.
    if (!readsBack(serialised_)) {
      printMessage("Warning: Chunk %i,%i would nest too deep or hold too many tags once repaired; it is kept exactly "
                   "as it was stored\n",
                   slotX(n), slotZ(n));
      return NewRecord::keepStored;
    }
    // A chunk in its own file goes back there as the region's stub says it is stored.
    const Slot& slot = file_.slots[n];
    const CodecStatus status =
        makeRecord(serialised_.data(), serialised_.size(), record, slot.external ? slot.compression : kZlibCompression);
    if (status.outcome != CodecStatus::ok) {
      printMessage("%s", codecLine(status).c_str());
      if (status.outcome == CodecStatus::streamError) return NewRecord::fatal;
      printMessage("Error: Chunk %i,%i failed to compress\n", slotX(n), slotZ(n));
      return NewRecord::keepStored;
    }
    return NewRecord::made;
  }

 private:
  RegionFile& file_;
  ChunkLoader loader_;
  ByteBuffer serialised_;
};

}  // namespace

namespace {

// A run for one file, its failures turned into one line: the file stays as it was.
template <typename Run>
int reportingFailures(const char* path, Run&& run) {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    printMessage("Error: out of memory; file '%s' is left as it was!\n", path);
  } catch (const std::exception& e) {
    printMessage("Error: %s; file '%s' is left as it was!\n", e.what(), path);
  }
  return 1;
}

// Writes slot n's repaired chunk back to its own file, with a region's care.
int rewriteExternal(RegionFile& file, int n, RecordSource& source) {
  ByteBuffer record;
  const NewRecord made = source.make(n, record);
  if (made != NewRecord::made) return made == NewRecord::fatal ? 1 : 0;  // said why; the file stays
  const std::string path = file.externalPath(n);
  const ByteBuffer stream(record.begin() + kRecordHeaderSize, record.end());
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  auto changed = [&] {
    if (fd >= 0 && file.externalUnchanged(n)) return false;
    printMessage("Error: file '%s' changed while it was being repaired; it is left as it was!\n", path.c_str());
    return true;
  };
  const int code = replaceWithBytes(path.c_str(), fd, changed, stream);
  if (fd >= 0) close(fd);
  return code;
}

// Writes what a scan repaired: the region and the chunks' own files.
int writeRepaired(const char* path, RegionFile& file, const RunOptions& options) {
  RepairAgain source(file, options);
  // A chunk read from its own file goes back there; the region, which
  // holds only its stub, is rewritten only for chunks it holds itself.
  std::vector<int> external;
  bool inRegion = false;
  for (int n = 0; n < kSlotCount; ++n) {
    Slot& slot = file.slots[n];
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
      printMessage("Error: unable to open file '%s' for output!\n", target.c_str());
      return 1;
    }
  }
  // The region first: when it cannot be written, neither is anything else.
  if (inRegion && writeRegion(path, file, source) != 0) return 1;
  int code = 0;
  for (int n : external) code = std::max(code, rewriteExternal(file, n, source));
  return code;
}

}  // namespace

int mendRegion(const char* path, const RunOptions& options) {
  return reportingFailures(path, [&] {
    RegionFile file;
    if (!file.open(path)) return 1;
    file.readExternal = options.everywhere;
    Scan scan(file, options);
    scan.run();
    if (scan.fatal) return 1;
    if (scan.pagesRepaired == 0) printMessage("No fixable problems found in '%s'.\n", path);
    if (options.check) {
      const long pages = scan.pagesRepaired;
      printMessage("Check: %ld page%s would be repaired in '%s'; the file was not changed.\n", pages,
                   pages == 1 ? "" : "s", path);
    }
    if (scan.rootsOfNewerLayout > 0 && scan.rootsWithLevel == 0) {
      // Not one of the lines a run promises on its output (and then nothing
      // was repaired): a word to the user.
      std::fflush(stdout);
      std::fprintf(stderr,
                   "Hint: no chunk of '%s' holds a Level compound, as in regions saved by Minecraft 1.18 and "
                   "later; pagemend --everywhere reads them.\n",
                   path);
    }
    if (options.check || scan.pagesRepaired == 0) return 0;
    return writeRepaired(path, file, options);
  });
}

namespace {

void printUsage(std::FILE* to, const char* program) {
  std::fprintf(to, "Usage: %s [OPTIONS] FILE...\n", program);
}

void printHelp(const char* program) {
  printUsage(stdout, program);
  std::printf(
      "Repairs the written books in Minecraft region files (.mca, .mcr): a page stored\n"
      "as plain text becomes the JSON text the game expects. Each file is read whole\n"
      "and rewritten only when a page of it was repaired; a rewrite replaces the file\n"
      "at once, so that it is always either the old file or the whole new one.\n"
      "\n"
      "Options:\n"
      "  --check      report what would be repaired, and write nothing\n"
      "  --everywhere look for books in every place they can lie: also lecterns,\n"
      "               glow item frames, the items of every entity (minecarts, boats,\n"
      "               animals, villagers, armor stands, items on the ground), the\n"
      "               chunks of Minecraft 1.18 and later, and entity files\n"
      "               (entities/r.X.Z.mca)\n"
      "  -h, --help   print this help and exit\n"
      "  --version    print the version and exit\n"
      "  --           end of the options: every later argument is a file\n"
      "\n"
      "With several files, each one's lines follow a line \"== FILE\".\n"
      "\n"
      "Exit status:\n"
      "  0  every file was read, and rewritten if a page of it was repaired; chunks\n"
      "     that could not be read are reported and left exactly as they are\n"
      "  1  a file could not be read or rewritten; it is left as it was\n"
      "  2  the command line is wrong; no file was touched\n");
}

int commandLineError(const char* program, const std::string& what) {
  std::fprintf(stderr, "Error: %s\n", what.c_str());
  printUsage(stderr, program);
  std::fprintf(stderr, "Try '%s --help' for more.\n", program);
  return 2;
}

}  // namespace

int runPagemend(int argc, char** argv, RunOptions options) {
  // Messages name the program as it was started, as the syntax line always did.
  const char* program = argc > 0 ? argv[0] : "pagemend";
  if (argc < 2) {
    printMessage("Syntax: %s <filename.mcr/mca>\n", program);
    return 1;
  }
  // The whole command line is read before any file is touched: a mistyped
  // option must not leave some files repaired.
  std::vector<const char*> paths;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      paths.push_back(argv[i]);
    } else if (arg == "--") {
      optionsEnd = true;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--everywhere") {
      options.everywhere = true;
    } else if (arg == "--help" || arg == "-h") {
      printHelp(program);
      return 0;
    } else if (arg == "--version") {
      std::printf("pagemend %s\n", PAGEMEND_VERSION);
      return 0;
    } else {
      return commandLineError(program, "unknown option '" + arg + "'");
    }
  }
  if (paths.empty()) return commandLineError(program, "no file named");
  int code = 0;
  for (const char* path : paths) {
    if (paths.size() > 1) printMessage("== %s\n", path);
    // A player's file or level.dat is read as such only when asked to look everywhere.
    code = std::max(code, options.everywhere && isPlayerFile(path)
                              ? reportingFailures(path, [&] { return mendPlayerFile(path, options); })
                              : mendRegion(path, options));
  }
  // A check's report is all it makes: one that could not be written is a
  // failure (a real run's lines are not; its files are what it makes).
  errno = 0;
  if (options.check && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    if (errno != EPIPE) std::fprintf(stderr, "Error: the report could not be written in full\n");
    code = std::max(code, 1);
  }
  return code;
}

}  // namespace region
