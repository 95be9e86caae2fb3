#pragma once

#include <array>
#include <atomic>
#include <memory>

#include "anvil/region_file.h"
#include "app/console.h"
#include "app/messages.h"
#include "books/finding.h"
#include "nbt/byte_buffer.h"

namespace app {

class ChunkLoader;

// Processors that no one works on: files run side by side each hold one,
// and a scan takes a spare one for a second thread, if there is one.
class SpareProcessors {
 public:
  explicit SpareProcessors(int count = 0) : count_(count) {}
  bool take() {
    for (int n = count_.load(); n > 0;) {
      if (count_.compare_exchange_weak(n, n - 1)) return true;
    }
    return false;
  }
  void give() { ++count_; }

 private:
  std::atomic<int> count_;
};

struct ScanOptions {
  bool zlibOnly = false;    // inflate with zlib alone (to compare with the faster inflater)
  bool everywhere = false;  // look for books in every place a chunk can hold them
  bool upgrade = false;     // books made to survive being opened by any later version
  int threads = 0;          // threads that load chunks; 0: one per usable processor, at most two
  // When files run side by side: a second thread only on a spare processor.
  SpareProcessors* spare = nullptr;
  // The calling thread's loader, kept from file to file (its buffers are
  // mapped from the system, and mapping them anew for each of thousands of
  // small files costs more than reading them); none: one of its own.
  ChunkLoader* loader = nullptr;
  int onlySlot = -1;  // this slot alone (a chunk's own file named on the command line); -1: every slot
  bool rewrite = false;  // make the new record of every repaired chunk (else only of those a check must measure)
  // The bytes of new records kept for the rewrite: past them, a repaired
  // chunk's record is made by the rewrite, one at a time, as it writes it.
  size_t recordBudget = kRecordBudget;
  static constexpr size_t kRecordBudget = size_t{64} << 20;
  Voice voice;           // how the findings are said
};

struct ScanResult {
  bool fatal = false;  // zlib's stream state broke: the run must end
  long pagesRepaired = 0;
  long repairs = 0;  // pages, and (with --upgrade) titles shortened: a rewrite is due
  long books = 0;    // written books looked at
  std::array<int, anvil::kSlotCount> pagesBySlot{};
  std::array<size_t, anvil::kSlotCount> encodedBound{};  // of each repaired chunk (see ChunkLoader::Result)
  // Of each repaired slot: its new record, where one was made (slots that
  // share a stored record share it); why it is kept as stored (or
  // pageRepaired: it is not); how compressing it failed; the digest of its
  // record as it was read; its DataVersion (-1: none).
  std::array<std::shared_ptr<const ByteBuffer>, anvil::kSlotCount> made;
  std::array<books::Subject, anvil::kSlotCount> kept{};
  std::array<anvil::CodecStatus, anvil::kSlotCount> compressed{};
  std::array<uint64_t, anvil::kSlotCount> digests{};
  std::array<int, anvil::kSlotCount> versions{};
  long errorLines = 0;  // "Error: " and "ERROR: " lines printed for chunks
};

// Loads every chunk of `file` and finds (and repairs, in memory) its books,
// printing every slot's lines to `out` in slot order, whatever thread loaded
// it; a slot a page of which was repaired is marked `rewritten`. Slots that
// share one stored record load it once. Throws what a thread threw (such as
// std::bad_alloc).
ScanResult scanRegion(anvil::RegionFile& file, const ScanOptions& options, Output& out);

}  // namespace app
