#include "app/slot_scan.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "app/chunk_loader.h"

namespace app {

namespace {

using anvil::kSlotCount;
using anvil::RegionFile;
using anvil::Slot;
using anvil::slotX;
using anvil::slotZ;
using books::Finding;

// Lets threads that load slots side by side write their lines in slot order.
// A slot's lines go out once every slot before it is out; a thread that
// finishes a slot early leaves its lines here and goes on, unless too many
// wait already, and a thread whose slot has many lines waits for the slot's
// turn and then writes them as they come.
class Ordered {
 public:
  explicit Ordered(Output& out) : out_(out) {}

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
    out_.flush();
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
  void write(const std::string& lines) { out_.write(lines); }

 private:
  static constexpr size_t kWaitingLimit = size_t{1} << 20;

  Output& out_;
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
    if (kind == Finding::error) ++errorLines;
    pending_ += line;
    if (pending_.size() < kBufferLimit) return;
    if (!haveTurn_) haveTurn_ = ordered_.awaitTurn(item_);
    if (haveTurn_) ordered_.write(pending_);
    pending_.clear();  // written, or never to be: the run was stopped
  }

  bool finish(bool stopAfter) { return ordered_.finish(item_, std::move(pending_), stopAfter); }

  long pagesRepaired = 0;
  long errorLines = 0;

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
  Scan(RegionFile& file, const ScanOptions& options, Output& out) : file(file), options(options), ordered(out) {}

  RegionFile& file;
  const ScanOptions& options;
  std::vector<int> items;  // the slots that hold a record, in slot order
  std::map<int64_t, SharedRecord> shared;  // records that several slots point at, by offset
  std::atomic<size_t> next{0};
  Ordered ordered;
  std::atomic<bool> fatal{false};
  std::atomic<long> pagesRepaired{0}, errorLines{0};
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
        errorLines += report.errorLines;
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

}  // namespace

ScanResult scanRegion(RegionFile& file, const ScanOptions& options, Output& out) {
  Scan scan(file, options, out);
  scan.run();
  return {scan.fatal, scan.pagesRepaired, scan.errorLines, scan.rootsWithLevel, scan.rootsOfNewerLayout};
}

}  // namespace app
