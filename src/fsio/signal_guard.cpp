#include "fsio/signal_guard.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace fsio {

// Plain characters and atomic flags: the handler may read them at any moment.
struct PendingSlot {
  std::atomic<bool> used{false};
  char path[PATH_MAX + 64]{};
};

namespace {

using Slot = PendingSlot;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Slots in blocks that are never given back, linked as they are added: a
// world run rewrites many files at once, each with any number of chunks'
// files, and every one of their temporaries has a slot.
struct Block {
  Slot slots[64];
  std::atomic<Block*> next{nullptr};
};
static_assert(std::atomic<Block*>::is_always_lock_free, "the handler follows the links");
Block first;  // all initialised: zeros from the start, touched only when used

std::mutex registry;  // taking and giving back slots, installing and restoring the handler
int held = 0;
struct sigaction saved[kSignalCount];
bool installed[kSignalCount];

// Set by the handler: from then on no thread makes a file.
std::atomic<bool> terminating{false};
// Threads between deciding to make a file and having it registered (or
// given up). The handler waits for them: each holds the signals back
// meanwhile, so none of them is the thread the handler runs on.
std::atomic<int> making{0};
constexpr time_t kLongestWait = 3;  // seconds
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the handler reads them");

void onTerminatingSignal(int signal) {
  terminating.store(true);
  // A moment: one open(2) or link(2) each. Never longer than a few seconds,
  // though (a folder on a network that stopped answering): a signal that
  // would not end the run is worse than a file left over.
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (making.load() > 0 && clock_gettime(CLOCK_MONOTONIC, &now) == 0 && now.tv_sec - start.tv_sec < kLongestWait) {
    sched_yield();
  }
  for (Block* block = &first; block; block = block->next.load(std::memory_order_acquire)) {
    for (Slot& slot : block->slots) {
      if (slot.used.load(std::memory_order_acquire)) unlink(slot.path);
    }
  }
  for (int i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signal) sigaction(signal, &saved[i], nullptr);
  }
  raise(signal);
}

void install() {
  for (int i = 0; i < kSignalCount; ++i) {
    installed[i] = false;
    // What was there is kept before the handler is: it may run at once.
    if (sigaction(kSignals[i], nullptr, &saved[i]) != 0 || saved[i].sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = onTerminatingSignal;
    sigemptyset(&handler.sa_mask);
    installed[i] = sigaction(kSignals[i], &handler, nullptr) == 0;
  }
}

void restore() {
  for (int i = 0; i < kSignalCount; ++i) {
    if (installed[i]) sigaction(kSignals[i], &saved[i], nullptr);
    installed[i] = false;
  }
}

// The terminating signals held back on this thread while it changes the
// registry: the handler, which waits for threads making files, must never
// run on one of them, nor on one holding the lock they wait for.
class SignalsHeldBack {
 public:
  SignalsHeldBack() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kSignals) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeldBack() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }  // one that came meanwhile is handled now

 private:
  sigset_t old_;
};

// A free slot, in a block added for it if every one is taken; with the lock held.
Slot& freeSlot() {
  for (Block* block = &first;; block = block->next.load(std::memory_order_relaxed)) {
    for (Slot& slot : block->slots) {
      if (!slot.used.load(std::memory_order_relaxed)) return slot;
    }
    if (!block->next.load(std::memory_order_relaxed)) block->next.store(new Block(), std::memory_order_release);
  }
}

// Registers `path` and, with `make` (which returns false, errno set, when it
// could not), makes the file, both before the handler can look; false,
// errno set, when nothing was made.
template <typename Make>
bool registered(const char* path, Slot*& slot, Make make) {
  if (std::strlen(path) >= sizeof first.slots[0].path) {
    errno = ENAMETOOLONG;
    return false;
  }
  SignalsHeldBack heldBack;
  making.fetch_add(1);
  struct Done {
    ~Done() { making.fetch_sub(1); }
  } done;
  if (terminating.load()) {
    errno = EINTR;
    return false;
  }
  std::lock_guard<std::mutex> lock(registry);
  Slot& free = freeSlot();
  std::strcpy(free.path, path);
  free.used.store(true, std::memory_order_release);
  if (held++ == 0) install();
  if (!make()) {
    const int error = errno;
    free.used.store(false, std::memory_order_release);
    if (--held == 0) restore();
    errno = error;
    return false;
  }
  slot = &free;
  return true;
}

}  // namespace

bool PendingFile::hold(const char* path) {
  release();
  return registered(path, slot_, [] { return true; });
}

int PendingFile::create(const char* path, mode_t mode) {
  release();
  int fd = -1;
  registered(path, slot_, [&] {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    return fd >= 0;
  });
  return fd;
}

bool PendingFile::link(const char* existing, const char* path) {
  release();
  return registered(path, slot_, [&] { return ::link(existing, path) == 0; });
}

void PendingFile::release() {
  if (!slot_) return;
  SignalsHeldBack heldBack;
  std::lock_guard<std::mutex> lock(registry);
  slot_->used.store(false, std::memory_order_release);
  slot_ = nullptr;
  if (--held == 0) restore();
}

}  // namespace fsio
