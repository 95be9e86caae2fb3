#include "fsio/signal_guard.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "fsio/windows.h"
#else
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace fsio {

// Plain characters and atomic flags: the handler may read them at any moment.
struct PendingSlot {
  std::atomic<bool> used{false};
  char path[4096 + 64]{};  // PATH_MAX, and on Windows as long as a path may be in UTF-8
};

namespace {

using Slot = PendingSlot;


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

// Set by the handler: from then on no thread makes a file.
std::atomic<bool> terminating{false};
// Threads between deciding to make a file and having it registered (or
// given up). The handler waits for them: each holds the signals back
// meanwhile, so none of them is the thread the handler runs on.
std::atomic<int> making{0};
constexpr time_t kLongestWait = 3;  // seconds
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the handler reads them");

// A moment: one open(2) or link(2) each. Never longer than a few seconds,
// though (a folder on a network that stopped answering): a signal that
// would not end the run is worse than a file left over.
void removeRegistered() {
  terminating.store(true);
#ifdef _WIN32
  const ULONGLONG start = GetTickCount64();
  while (making.load() > 0 && GetTickCount64() - start < kLongestWait * 1000) Sleep(1);
#else
  timespec start{}, now{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (making.load() > 0 && clock_gettime(CLOCK_MONOTONIC, &now) == 0 && now.tv_sec - start.tv_sec < kLongestWait) {
    sched_yield();
  }
#endif
  for (Block* block = &first; block; block = block->next.load(std::memory_order_acquire)) {
    for (Slot& slot : block->slots) {
#ifdef _WIN32
      if (slot.used.load(std::memory_order_acquire)) DeleteFileW(windows::systemPath(slot.path).c_str());
#else
      if (slot.used.load(std::memory_order_acquire)) unlink(slot.path);
#endif
    }
  }
}

#ifdef _WIN32

// Ctrl-C, Ctrl-Break and the console closed: the handler runs on a thread
// of its own, while the others go on, then hands the event on to the
// handlers before it (the last, startProgram's, ends the process). Closing
// gives them five seconds, far more than removing takes.
BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    removeRegistered();
  }
  return FALSE;
}

void install() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }
void restore() { SetConsoleCtrlHandler(onConsoleEvent, FALSE); }

// The handler runs on a thread of its own: no thread needs to hold it back.
struct SignalsHeldBack {
  SignalsHeldBack() {}
};

#else

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction saved[kSignalCount];
bool installed[kSignalCount];

void onTerminatingSignal(int signal) {
  removeRegistered();
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

#endif

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
#ifdef _WIN32
    (void)mode;  // the file's security is its folder's, until it takes the old file's
    // Shared for removing, so that the handler can remove it while it is open.
    const HANDLE h = CreateFileW(windows::systemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC,
                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      windows::setErrno(GetLastError());
      return false;
    }
    fd = windows::descriptorOf(h, _O_RDWR);
#else
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
#endif
    return fd >= 0;
  });
  return fd;
}

bool PendingFile::link(const char* existing, const char* path) {
  release();
  return registered(path, slot_, [&] {
#ifdef _WIN32
    if (CreateHardLinkW(windows::systemPath(path).c_str(), windows::systemPath(existing).c_str(), nullptr)) return true;
    windows::setErrno(GetLastError());
    return false;
#else
    return ::link(existing, path) == 0;
#endif
  });
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
