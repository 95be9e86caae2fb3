// The POSIX side of system.h.
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fsio/files.h"
#include "fsio/system.h"

namespace fsio {

void startProgram(int&, char**&, bool ignoreBrokenPipe) {
  occupyStandardDescriptors();
  if (ignoreBrokenPipe) signal(SIGPIPE, SIG_IGN);
}

void prepareConsole() {}

bool isTerminal(int fd) { return isatty(fd) == 1; }

size_t terminalWidth(int fd) {
  winsize size{};
  return ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

bool isPipe(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode);
}

int errorOfWrite(int error) { return error; }

void writeError(const char* text, size_t size) {
  const ssize_t ignored = write(STDERR_FILENO, text, size);
  (void)ignored;
}

int usableProcessors() {
  cpu_set_t usable;
  if (sched_getaffinity(0, sizeof usable, &usable) != 0) return 1;
  return CPU_COUNT(&usable) > 0 ? CPU_COUNT(&usable) : 1;
}

int startThreadElsewhere(pthread_t& thread, void* (*run)(void*), void* argument) {
  pthread_attr_t attributes;
  if (int error = pthread_attr_init(&attributes)) return error;
  cpu_set_t others;
  const int here = sched_getcpu();
  if (here >= 0 && sched_getaffinity(0, sizeof others, &others) == 0 && CPU_COUNT(&others) > 1) {
    CPU_CLR(here, &others);
    pthread_attr_setaffinity_np(&attributes, sizeof others, &others);
  }
  const int error = pthread_create(&thread, &attributes, run, argument);
  pthread_attr_destroy(&attributes);
  return error;
}

size_t pageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

void* mapMemory(size_t size) {
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

void* growMemory(void* memory, size_t size, size_t grown, size_t) {
  void* moved = mremap(memory, size, grown, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}

void unmapMemory(void* memory, size_t size) {
  if (memory) munmap(memory, size);
}

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM};
struct sigaction before[2];
bool handling[2];
void (*sayOnInterrupt)() = nullptr;

void onInterrupt(int signal) {
  if (sayOnInterrupt) sayOnInterrupt();
  // Ended as the signal ends a process: the signal's own disposition, not ours.
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  sigaction(signal, &plain, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace

InterruptNotice::InterruptNotice(void (*say)()) {
  sayOnInterrupt = say;
  for (int i = 0; i < 2; ++i) {
    handling[i] = false;
    if (sigaction(kInterrupts[i], nullptr, &before[i]) != 0 || before[i].sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = onInterrupt;
    sigemptyset(&handler.sa_mask);
    handling[i] = sigaction(kInterrupts[i], &handler, nullptr) == 0;
  }
}

InterruptNotice::~InterruptNotice() {
  for (int i = 0; i < 2; ++i) {
    if (handling[i]) sigaction(kInterrupts[i], &before[i], nullptr);
  }
}

}  // namespace fsio
