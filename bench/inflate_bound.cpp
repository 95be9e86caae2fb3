// The least a scan can take: every record read as pagemend reads it (one
// read of the sectors its location entry claims) and inflated with
// libdeflate, on two threads placed as pagemend places them, and nothing
// else: no tree, no walk, no lines. Linked as pagemend is, so that both
// start alike; what pagemend takes beyond it is what finding books costs.
//
//   inflate_bound REGION      prints the total inflated size in bytes
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

int fd = -1;
uint8_t header[kHeaderSize];
std::vector<int> slots;  // those with a record
std::atomic<size_t> next{0};
std::atomic<uint64_t> total{0};

void* work(void*) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  size_t capacity = size_t{1} << 20;
  // Mapped, not allocated and cleared: only the pages written are touched.
  void* out = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (!d || out == MAP_FAILED) std::abort();  // a measuring tool: no figure rather than a wrong one
  std::unique_ptr<uint8_t[]> record;
  size_t recordCapacity = 0;
  for (size_t k; (k = next++) < slots.size();) {
    const Location at = loadLocation(header, slots[k]);
    const size_t claimed = static_cast<size_t>(std::max<int64_t>(at.count, 1) * kSectorSize);
    if (claimed > recordCapacity) record.reset(new uint8_t[recordCapacity = claimed]);
    const ssize_t got = pread(fd, record.get(), claimed, static_cast<off_t>(at.sector * kSectorSize));
    if (got < kRecordHeaderSize || record[4] != kZlibCompression) continue;
    const size_t length = nbt::loadU32(record.get());
    if (length < 1 || length > kMaxChunkBytes) continue;
    if (length + 4 > static_cast<size_t>(got)) {  // past its claimed sectors: the rest in a second read
      std::unique_ptr<uint8_t[]> whole(new uint8_t[recordCapacity = length + 4]);
      std::copy(record.get(), record.get() + got, whole.get());
      record = std::move(whole);
      const size_t rest = length + 4 - static_cast<size_t>(got);
      if (pread(fd, record.get() + got, rest, static_cast<off_t>(at.sector * kSectorSize + got)) !=
          static_cast<ssize_t>(rest)) {
        continue;
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
  munmap(out, capacity);
  libdeflate_free_decompressor(d);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s REGION\n", argv[0]);
    return 2;
  }
  fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0 || pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return 1;
  for (int n = 0; n < kSlotCount; ++n) {
    if (loadLocation(header, n).sector != 0) slots.push_back(n);
  }
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
