// The least a scan can take: every record read as pagemend reads it (one
// read of the sectors its location entry claims) and inflated with
// libdeflate, and nothing else: no tree, no walk, no lines. Linked as
// pagemend is, so that both start alike; what pagemend takes beyond it is
// what finding books costs.
//
//   inflate_bound REGION      one region's chunks on two threads placed as pagemend places them
//   inflate_bound FILE...     several regions' on every processor, each thread taking the next file
//
// Prints the total inflated size in bytes.
#include <fcntl.h>
#include <libdeflate.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "anvil/codec.h"
#include "anvil/layout.h"

using namespace anvil;

namespace {

// A region being read: its descriptor, tables and the slots that hold a record.
struct Region {
  int fd = -1;
  uint8_t header[kHeaderSize];
  std::vector<int> slots;
  bool open(const char* path) {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
    for (int n = 0; n < kSlotCount; ++n) {
      if (loadLocation(header, n).sector != 0) slots.push_back(n);
    }
    return true;
  }
};

std::atomic<uint64_t> total{0};

// One thread's inflater and buffers, kept from record to record.
struct Inflating {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  size_t capacity = size_t{1} << 20;
  // Mapped, not allocated and cleared: only the pages written are touched.
  void* out = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  std::unique_ptr<uint8_t[]> record;
  size_t recordCapacity = 0;
  Inflating() {
    if (!d || out == MAP_FAILED) std::abort();  // a measuring tool: no figure rather than a wrong one
  }
  ~Inflating() {
    munmap(out, capacity);
    libdeflate_free_decompressor(d);
  }
  void slot(const Region& region, int n);
};

Region single;                 // one region, its slots shared by two threads
std::atomic<size_t> next{0};   // the next slot, or the next file
std::vector<const char*> files;

void* work(void*) {
  Inflating inflating;
  for (size_t k; (k = next++) < single.slots.size();) inflating.slot(single, single.slots[k]);
  return nullptr;
}

void* workOnFiles(void*) {
  Inflating inflating;
  for (size_t k; (k = next++) < files.size();) {
    Region region;
    if (!region.open(files[k])) std::abort();
    for (int n : region.slots) inflating.slot(region, n);
    close(region.fd);
  }
  return nullptr;
}

void Inflating::slot(const Region& region, int n) {
  const int fd = region.fd;
  const uint8_t* header = region.header;
  const Location at = loadLocation(header, n);
  const size_t claimed = static_cast<size_t>(std::max<int64_t>(at.count, 1) * kSectorSize);
  if (claimed > recordCapacity) record.reset(new uint8_t[recordCapacity = claimed]);
  const ssize_t got = pread(fd, record.get(), claimed, static_cast<off_t>(at.sector * kSectorSize));
  if (got < kRecordHeaderSize || record[4] != kZlibCompression) return;
  const size_t length = nbt::loadU32(record.get());
  if (length < 1 || length > kMaxChunkBytes) return;
  if (length + 4 > static_cast<size_t>(got)) {  // past its claimed sectors: the rest in a second read
    std::unique_ptr<uint8_t[]> whole(new uint8_t[recordCapacity = length + 4]);
    std::copy(record.get(), record.get() + got, whole.get());
    record = std::move(whole);
    const size_t rest = length + 4 - static_cast<size_t>(got);
    if (pread(fd, record.get() + got, rest, static_cast<off_t>(at.sector * kSectorSize + got)) !=
        static_cast<ssize_t>(rest)) {
      return;
    }
  }
  for (;;) {
    size_t produced = 0;
    const libdeflate_result r =
        libdeflate_zlib_decompress(d, record.get() + kRecordHeaderSize, length - 1, out, capacity, &produced);
    if (r == LIBDEFLATE_SUCCESS) total += produced;
    if (r != LIBDEFLATE_INSUFFICIENT_SPACE || capacity >= kMaxChunkBytes) break;
    void* grown = mremap(out, capacity, 2 * capacity, MREMAP_MAYMOVE);
    if (grown == MAP_FAILED) std::abort();
    out = grown;
    capacity *= 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
    return 2;
  }
  if (argc > 2) {
    files.assign(argv + 1, argv + argc);
    cpu_set_t usable;
    const int processors = sched_getaffinity(0, sizeof usable, &usable) == 0 ? CPU_COUNT(&usable) : 1;
    std::vector<pthread_t> helpers(static_cast<size_t>(std::max(processors - 1, 0)));
    for (pthread_t& helper : helpers) {
      if (pthread_create(&helper, nullptr, workOnFiles, nullptr) != 0) std::abort();
    }
    workOnFiles(nullptr);
    for (pthread_t helper : helpers) pthread_join(helper, nullptr);
    std::printf("%llu\n", static_cast<unsigned long long>(total));
    return 0;
  }
  if (!single.open(argv[1])) return 1;
  const std::vector<int>& slots = single.slots;
  // A helper for more than 16 chunks, on the other processor from its start.
  pthread_t helper;
  bool started = false;
  if (slots.size() > 16) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    cpu_set_t others;
    const int here = sched_getcpu();
    if (here >= 0 && sched_getaffinity(0, sizeof others, &others) == 0 && CPU_COUNT(&others) > 1) {
      CPU_CLR(here, &others);
      pthread_attr_setaffinity_np(&attributes, sizeof others, &others);
      started = pthread_create(&helper, &attributes, work, nullptr) == 0;
    }
    pthread_attr_destroy(&attributes);
  }
  work(nullptr);
  if (started) pthread_join(helper, nullptr);
  std::printf("%llu\n", static_cast<unsigned long long>(total));
  return 0;
}
