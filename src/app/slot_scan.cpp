#include "app/slot_scan.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/chunk_loader.h"
#include "app/ordered.h"
#include "fsio/system.h"

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
    if (finding.kind == books::Kind::repaired) {
      ++repairs;
      if (finding.subject == books::Subject::pageRepaired) ++pagesRepaired;
    }
    if (finding.kind == books::Kind::chunkError) ++errorLines;
    lines_.write(voice_.say(finding));
  }
  void bookExamined() override { ++books; }
  bool finish(bool stopAfter) { return lines_.finish(stopAfter); }

  long pagesRepaired = 0;
  long repairs = 0;  // pages, and titles shortened
  long books = 0;
  long errorLines = 0;

 private:
  OrderedLines lines_;
  const Voice& voice_;
};

// A value that threads share, reached only under its lock: the type leaves
// no other way to it.
template <typename T>
class Guarded {
 public:
  // Runs `use` on the value.
  template <typename Use>
  auto with(Use use) {
    std::lock_guard<std::mutex> lock(mutex_);
    return use(value_);
  }
  // Waits until `ready` holds of the value, then runs `use` on it.
  template <typename Ready, typename Use>
  auto when(Ready ready, Use use) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ready(value_); });
    return use(value_);
  }
  // Changes the value, and wakes whoever waits on it.
  template <typename Change>
  void publish(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(value_);
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  T value_;
};

// What the first of the slots that share one stored record found, for the
// others: loading it again for each would, for a hostile file, inflate the
// same bomb up to 1,024 times. The first publishes it; the others, whatever
// thread takes them, wait for it.
struct SharedRecord {
  int first = -1;  // the slot that loads it
  int others = 0;  // the later slots
  static constexpr size_t kFindingsLimit = size_t{16} << 20;

  struct State {
    bool done = false;       // the first slot was loaded, or its load failed (`result` is then not to be used)
    bool abandoned = false;  // its load failed
    ChunkLoader::Result result;
    std::shared_ptr<const ByteBuffer> record;  // its new record, if made
    std::vector<books::Finding> findings;
    size_t bytes = 0;
    bool kept = true;  // false once the findings passed the limit: the others load it themselves
    int told = 0;      // later slots done
  };
  std::unique_ptr<Guarded<State>> state = std::make_unique<Guarded<State>>();

  // Keeps the first slot's findings while they are few enough, passing them on.
  struct Recorder : books::Findings {
    Recorder(State& state, books::Findings& to) : state(state), to(to) {}
    void add(books::Finding&& finding) override {
      if (state.kept) {
        state.bytes += sizeof finding + finding.text.size() + finding.title.size();
        state.kept = state.bytes <= kFindingsLimit;
        if (state.kept) {
          state.findings.push_back(finding);
        } else {
          state.findings = {};
        }
      }
      to.add(std::move(finding));
    }
    // (Counted once, for the slot that loads it: the others hold the same books.)
    void bookExamined() override { to.bookExamined(); }
    State& state;  // the loading thread's alone until it is published
    books::Findings& to;
  };

  // The first slot's findings, told of slot n.
  static void tell(const std::vector<books::Finding>& findings, int n, books::Findings& to) {
    for (books::Finding finding : findings) {
      if (finding.inChunk) {
        finding.chunkX = slotX(n);
        finding.chunkZ = slotZ(n);
      }
      to.add(std::move(finding));
    }
  }
};

struct Scan {
  Scan(RegionFile& file, const ScanOptions& options, Output& out) : file(file), options(options), ordered(out) {}

  RegionFile& file;
  const ScanOptions& options;
  std::vector<int> items;  // the slots that hold a record, in slot order
  // Records that several slots point at, by offset: made before the threads
  // start and never changed in its shape after.
  std::map<int64_t, SharedRecord> shared;
  std::atomic<size_t> next{0};
  Ordered ordered;
  std::atomic<bool> fatal{false};
  std::atomic<long> pagesRepaired{0}, repairs{0}, books{0}, errorLines{0};
  std::array<int, kSlotCount> pagesBySlot{};  // each written by the thread that loaded the slot
  std::array<size_t, kSlotCount> encodedBound{};
  std::array<std::shared_ptr<const ByteBuffer>, kSlotCount> made;
  std::atomic<size_t> madeBytes{0};
  std::array<books::Subject, kSlotCount> kept{};
  std::array<anvil::CodecStatus, kSlotCount> compressed{};
  std::array<uint64_t, kSlotCount> digests{};
  std::array<int, kSlotCount> versions{};
  std::array<bool, kSlotCount> loaded{}, repaired{};
  std::array<anvil::SlotRead, kSlotCount> reads{};  // what each load found out of its slot
  std::mutex failureMutex;
  std::exception_ptr failure;

  // A second thread pays for itself only where there are many chunks, as it
  // takes a while to get going (on some virtual machines a tenth of a
  // millisecond, a good part of what a small region takes in all).
  static constexpr size_t kItemsLeftForAHelper = 16;
  static constexpr int64_t kLargestFileForTwoThreads = int64_t{256} << 20;

  int threadLimit() const {
    // Each thread holds one record as stored, and records may overlap: in a
    // file far larger than the game writes, two could each take most of it.
    if (file.size() > kLargestFileForTwoThreads) return 1;
    if (options.threads > 0) return options.threads;
    return std::clamp(fsio::usableProcessors(), 1, 2);
  }

  // Throws std::system_error when the system has no thread to spare.
  pthread_t startHelper() {
    pthread_t helper;
    if (const int error = fsio::startThreadElsewhere(
            helper, [](void* scan) -> void* { static_cast<Scan*>(scan)->work(); return nullptr; }, this)) {
      throw std::system_error(error, std::generic_category());
    }
    return helper;
  }

  // The main thread's work, which starts helpers as it finds them worthwhile.
  void work(std::vector<pthread_t>* helpers = nullptr) {
    try {
      std::optional<ChunkLoader> own;
      ChunkLoader& loader = helpers && options.loader ? *options.loader : own.emplace(options.zlibOnly, options.everywhere, options.upgrade);
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
        loaded[n] = true;
        reads[n] = result.slot;
        repaired[n] = result.repaired;
        if (result.repaired) {
          // Records kept past the budget would hold a region's worth of
          // memory (a region of uncompressed or LZ4 records is many times
          // its chunks' zlib size): the rewrite makes them as it goes.
          if (record && (madeBytes += record->size()) > options.recordBudget) {
            madeBytes -= record->size();
            record.reset();
          }
          made[n] = std::move(record);
          kept[n] = result.kept;
          compressed[n] = result.compressed;
          digests[n] = result.digest;
          versions[n] = result.dataVersion;
        }
        if (result.fatal) fatal = true;
        const bool written = report.finish(result.fatal);
        pagesRepaired += report.pagesRepaired;
        repairs += report.repairs;
        books += report.books;
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
    const auto loadAlone = [&](books::Findings& to) {
      ChunkLoader::Result result = loader.read(file, n, to, use);
      if (result.made) record = std::make_shared<const ByteBuffer>(std::move(loader.record()));
      return result;
    };
    const auto it = shared.find(file.slots[n].offset);
    if (it == shared.end()) return loadAlone(findings);
    SharedRecord& shared = it->second;
    Guarded<SharedRecord::State>& state = *shared.state;
    if (shared.first == n) {
      SharedRecord::State found;
      try {
        SharedRecord::Recorder recorder(found, findings);
        found.result = loadAlone(recorder);
      } catch (...) {
        state.publish([](SharedRecord::State& s) { s.done = s.abandoned = true; });
        throw;
      }
      found.record = record;
      found.done = true;
      const ChunkLoader::Result result = found.result;
      state.publish([&](SharedRecord::State& s) { s = std::move(found); });
      return result;
    }
    // A stub names a chunk file by the slot's own position: each slot has its
    // own. What the first found is copied out, so that no lock is held while
    // it is told.
    std::optional<ChunkLoader::Result> copied;
    std::vector<books::Finding> told;
    state.when([](const SharedRecord::State& s) { return s.done; },
               [&](SharedRecord::State& s) {
                 if (s.abandoned || !s.kept || s.result.slot.external) return;
                 copied = s.result;
                 told = s.findings;
                 record = s.record;
               });
    ChunkLoader::Result result;
    if (copied) {
      SharedRecord::tell(told, n, findings);
      result = *copied;
      const anvil::SlotRead first = result.slot;
      result.slot = file.stateOf(n);
      if (result.whole) {
        result.slot.extent = first.extent;
        result.slot.checksumMissing = first.checksumMissing;
        result.slot.checksum = first.checksum;
      }
    } else {
      result = loadAlone(findings);
    }
    // Once every later slot is told, what was kept for them is given back.
    state.with([&](SharedRecord::State& s) {
      if (++s.told < shared.others) return;
      const bool abandoned = s.abandoned;
      s = {};
      s.done = true;
      s.abandoned = abandoned;
    });
    return result;
  }

  void run() {
    std::map<int64_t, std::pair<int, int>> byOffset;  // the first slot and the later ones
    for (int n = 0; n < kSlotCount; ++n) {
      if (file.slots[n].offset == 0 || (options.onlySlot >= 0 && n != options.onlySlot)) continue;
      items.push_back(n);
      auto [at, first] = byOffset.try_emplace(file.slots[n].offset, n, 0);
      if (!first) ++at->second.second;
    }
    for (const auto& [offset, slots] : byOffset) {
      if (slots.second == 0) continue;
      SharedRecord& record = shared[offset];
      record.first = slots.first;
      record.others = slots.second;
    }
    std::vector<pthread_t> helpers;
    work(&helpers);
    for (pthread_t t : helpers) {
      pthread_join(t, nullptr);
      if (options.spare) options.spare->give();
    }
    if (failure) std::rethrow_exception(failure);
    // The threads are done: the file takes what they found out of its slots.
    for (int n = 0; n < kSlotCount; ++n) {
      if (!loaded[n]) continue;
      file.apply(n, reads[n]);
      if (repaired[n]) file.slots[n].rewritten = true;
    }
  }
};

}  // namespace

ScanResult scanRegion(RegionFile& file, const ScanOptions& options, Output& out) {
  Scan scan(file, options, out);
  scan.run();
  ScanResult result;
  result.fatal = scan.fatal;
  result.pagesRepaired = scan.pagesRepaired;
  result.repairs = scan.repairs;
  result.books = scan.books;
  result.pagesBySlot = scan.pagesBySlot;
  result.encodedBound = scan.encodedBound;
  result.made = std::move(scan.made);
  result.kept = scan.kept;
  result.compressed = scan.compressed;
  result.digests = scan.digests;
  result.versions = scan.versions;
  result.errorLines = scan.errorLines;
  return result;
}

}  // namespace app
