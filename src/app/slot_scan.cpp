#include "app/slot_scan.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "app/chunk_loader.h"
#include "app/ordered.h"

namespace app {

namespace {

using anvil::kSlotCount;
using anvil::RegionFile;
using anvil::Slot;
using anvil::slotX;
using anvil::slotZ;

// The findings of one slot, as lines in slot order, with what they report counted.
class SlotReport : public books::Findings {
 public:
  SlotReport(Ordered& ordered, size_t item, const Voice& voice) : lines_(ordered, item), voice_(voice) {}

  void add(books::Finding&& finding) override {
    if (finding.kind == books::Kind::repaired) ++pagesRepaired;
    if (finding.kind == books::Kind::chunkError) ++errorLines;
    lines_.write(voice_.say(finding));
  }
  bool finish(bool stopAfter) { return lines_.finish(stopAfter); }

  long pagesRepaired = 0;
  long errorLines = 0;

 private:
  OrderedLines lines_;
  const Voice& voice_;
};

// What the first of the slots that share one stored record found, for the
// others: loading it again for each would, for a hostile file, inflate the
// same bomb up to 1,024 times.
struct SharedRecord {
  int first = -1;  // the slot that loads it
  int others = 0;  // the later slots still to be told
  ChunkLoader::Result result;
  std::shared_ptr<const ByteBuffer> record;  // its new record, if made
  std::vector<books::Finding> findings;
  size_t bytes = 0;
  bool kept = true;  // false once the findings passed the limit: the others load it themselves

  static constexpr size_t kFindingsLimit = size_t{16} << 20;

  // Passes the first slot's findings on, keeping them while they are few enough.
  struct Recorder : books::Findings {
    Recorder(SharedRecord& shared, books::Findings& to) : shared(shared), to(to) {}
    void add(books::Finding&& finding) override {
      if (shared.kept) {
        shared.bytes += sizeof finding + finding.text.size() + finding.title.size();
        shared.kept = shared.bytes <= kFindingsLimit;
        if (shared.kept) {
          shared.findings.push_back(finding);
        } else {
          shared.findings = {};
        }
      }
      to.add(std::move(finding));
    }
    SharedRecord& shared;
    books::Findings& to;
  };

  // The first slot's findings, told of slot n.
  void tell(int n, books::Findings& findings) const {
    for (books::Finding finding : this->findings) {
      if (finding.inChunk) {
        finding.chunkX = slotX(n);
        finding.chunkZ = slotZ(n);
      }
      findings.add(std::move(finding));
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
  std::array<int, kSlotCount> pagesBySlot{};  // each written by the thread that loaded the slot
  std::array<size_t, kSlotCount> encodedBound{};
  std::array<std::shared_ptr<const ByteBuffer>, kSlotCount> made;
  std::array<books::Subject, kSlotCount> kept{};
  std::array<anvil::CodecStatus, kSlotCount> compressed{};
  std::array<uint64_t, kSlotCount> digests{};
  std::array<int, kSlotCount> versions{};
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
      std::optional<ChunkLoader> own;
      ChunkLoader& loader = helpers && options.loader ? *options.loader : own.emplace(options.zlibOnly, options.everywhere);
      int limit = helpers ? threadLimit() : 1;
      if (helpers) helpers->reserve(static_cast<size_t>(limit));  // a started helper is always joined
      for (size_t k; (k = next++) < items.size();) {
        if (helpers && static_cast<int>(helpers->size()) + 1 < limit &&
            (options.threads > 0 || items.size() - k > kItemsLeftForAHelper) &&
            (!options.spare || options.spare->take())) {
          try {
            helpers->push_back(startHelper());
          } catch (const std::system_error&) {
            limit = 1;  // the system has no thread to spare: go on alone
            if (options.spare) options.spare->give();
          }
        }
        SlotReport report(ordered, k, options.voice);
        const int n = items[k];
        std::shared_ptr<const ByteBuffer> record;
        ChunkLoader::Result result;
        try {
          result = load(loader, n, report, record);
        } catch (...) {
          // What the chunk was found to hold is said before the run ends
          // (making its new record is what runs out of memory, as a rule).
          report.finish(true);
          throw;
        }
        if (result.repaired) file.slots[n].rewritten = true;
        if (result.repaired) {
          made[n] = std::move(record);
          kept[n] = result.kept;
          compressed[n] = result.compressed;
          digests[n] = result.digest;
          versions[n] = result.dataVersion;
        }
        if (result.fatal) fatal = true;
        if (result.whole) ++rootsWithLevel;  // "whole": it holds a Level
        if (result.newerLayout) ++rootsOfNewerLayout;
        const bool written = report.finish(result.fatal);
        pagesRepaired += report.pagesRepaired;
        pagesBySlot[n] = static_cast<int>(report.pagesRepaired);
        encodedBound[n] = result.encodedBound;
        errorLines += report.errorLines;
        if (!written || result.fatal) return;
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureMutex);
      if (!failure) failure = std::current_exception();
      ordered.stop();
    }
  }

  // Loads slot n; `record` is its new record, if one was made.
  ChunkLoader::Result load(ChunkLoader& loader, int n, books::Findings& findings,
                           std::shared_ptr<const ByteBuffer>& record) {
    const ChunkLoader::Use use = options.rewrite ? ChunkLoader::Use::rewrite : ChunkLoader::Use::check;
    const auto loadAlone = [&] {
      ChunkLoader::Result result = loader.load(file, n, findings, use);
      if (result.made) record = std::make_shared<const ByteBuffer>(std::move(loader.record()));
      return result;
    };
    const auto it = shared.find(file.slots[n].offset);
    if (it == shared.end()) return loadAlone();
    SharedRecord& shared = it->second;
    if (shared.first == n) {
      SharedRecord::Recorder recorder(shared, findings);
      ChunkLoader::Result result = loader.load(file, n, recorder, use);
      if (result.made) record = std::make_shared<const ByteBuffer>(std::move(loader.record()));
      shared.result = result;
      shared.record = record;
      return result;
    }
    ChunkLoader::Result result;
    // A stub names a chunk file by the slot's own position: each slot has its own.
    if (shared.kept && !file.slots[shared.first].external) {
      shared.tell(n, findings);
      result = shared.result;
      record = shared.record;
      if (result.whole) {
        const Slot& first = file.slots[shared.first];
        file.slots[n].extent = first.extent;
        file.slots[n].checksumMissing = first.checksumMissing;
        file.slots[n].checksum = first.checksum;
      }
    } else {
      result = loadAlone();
    }
    if (--shared.others == 0) this->shared.erase(it);
    return result;
  }

  void run() {
    std::map<int64_t, SharedRecord> byOffset;
    for (int n = 0; n < kSlotCount; ++n) {
      if (file.slots[n].offset == 0 || (options.onlySlot >= 0 && n != options.onlySlot)) continue;
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
    for (pthread_t t : helpers) {
      pthread_join(t, nullptr);
      if (options.spare) options.spare->give();
    }
    if (failure) std::rethrow_exception(failure);
  }
};

}  // namespace

ScanResult scanRegion(RegionFile& file, const ScanOptions& options, Output& out) {
  Scan scan(file, options, out);
  scan.run();
  ScanResult result;
  result.fatal = scan.fatal;
  result.pagesRepaired = scan.pagesRepaired;
  result.pagesBySlot = scan.pagesBySlot;
  result.encodedBound = scan.encodedBound;
  result.made = std::move(scan.made);
  result.kept = scan.kept;
  result.compressed = scan.compressed;
  result.digests = scan.digests;
  result.versions = scan.versions;
  result.errorLines = scan.errorLines;
  result.rootsWithLevel = scan.rootsWithLevel;
  result.rootsOfNewerLayout = scan.rootsOfNewerLayout;
  return result;
}

}  // namespace app
