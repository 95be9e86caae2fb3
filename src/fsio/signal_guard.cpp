#include "fsio/signal_guard.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace fsio {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
// Replacements under way at once: a region and its chunks' files, for each
// file being rewritten side by side.
constexpr int kSlots = 64;

// Plain characters and atomic flags: the handler may read them at any moment.
struct Slot {
  std::atomic<bool> used{false};
  char path[PATH_MAX + 64]{};  // all initialised: the table is then zeros from the start, touched only when used
};
Slot slots[kSlots];

std::mutex registry;  // taking and giving back slots, installing and restoring the handler
int held = 0;
struct sigaction saved[kSignalCount];
bool installed[kSignalCount];

void onTerminatingSignal(int signal) {
  for (Slot& slot : slots) {
    if (slot.used.load(std::memory_order_acquire)) unlink(slot.path);
  }
  for (int i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signal) sigaction(signal, &saved[i], nullptr);
  }
  raise(signal);
}

void install() {
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction current {};
    installed[i] = false;
    if (sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = onTerminatingSignal;
    sigemptyset(&handler.sa_mask);
    installed[i] = sigaction(kSignals[i], &handler, &saved[i]) == 0;
  }
}

void restore() {
  for (int i = 0; i < kSignalCount; ++i) {
    if (installed[i]) sigaction(kSignals[i], &saved[i], nullptr);
    installed[i] = false;
  }
}

}  // namespace

bool PendingFile::hold(const char* path) {
  release();
  if (std::strlen(path) >= sizeof slots[0].path) return false;
  std::lock_guard<std::mutex> lock(registry);
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].used.load(std::memory_order_relaxed)) continue;
    std::strcpy(slots[i].path, path);
    slots[i].used.store(true, std::memory_order_release);
    if (held++ == 0) install();
    slot_ = i;
    return true;
  }
  return false;
}

void PendingFile::release() {
  if (slot_ < 0) return;
  std::lock_guard<std::mutex> lock(registry);
  slots[slot_].used.store(false, std::memory_order_release);
  slot_ = -1;
  if (--held == 0) restore();
}

}  // namespace fsio
