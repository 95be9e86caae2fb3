// The Windows side of system.h.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fsio/files.h"
#include "fsio/system.h"
#include "fsio/windows.h"

#include <shellapi.h>

namespace fsio {

using windows::handleOf;

namespace {

// The first handler of the console's events, so the last to run: the run
// ends with Ctrl-C's code whenever it comes (Wine's own ending says 0).
BOOL WINAPI onEnding(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    windows::endInterrupted();
  }
  return FALSE;
}

}  // namespace

void startProgram(int& argc, char**& argv, bool) {
  SetConsoleCtrlHandler(onEnding, TRUE);
  occupyStandardDescriptors();
  prepareConsole();
  int count = 0;
  wchar_t** given = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!given) return;
  // Kept for the whole run, as argv is.
  static std::vector<std::string> held;
  static std::vector<char*> pointers;
  for (int i = 0; i < count; ++i) held.push_back(windows::narrow(given[i]));
  LocalFree(given);
  // The program by the name a user types (PowerShell and Explorer give its
  // whole path), as lines name it.
  if (!held.empty()) {
    std::string& name = held[0];
    name = baseNameOf(name);
    if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0) name.resize(name.size() - 4);
  }
  for (std::string& argument : held) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  argc = count;
  argv = pointers.data();
}

UINT codePageBefore = 0;

void prepareConsole() {
  // UTF-8 for the run; the console's own code page back after it, for the
  // programs that come next in it.
  codePageBefore = GetConsoleOutputCP();
  if (codePageBefore != 0 && codePageBefore != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    std::atexit([] { SetConsoleOutputCP(codePageBefore); });
  }
  for (int fd = 1; fd <= 2; ++fd) {
    _setmode(fd, _O_BINARY);
    DWORD mode;
    const HANDLE h = handleOf(fd);
    if (GetConsoleMode(h, &mode)) SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  // Unbuffered, as C has it: the C library buffers it when it is no console,
  // and its lines would come after those of standard output.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  _setmode(0, _O_BINARY);
}

bool isTerminal(int fd) {
  DWORD mode;
  return GetConsoleMode(handleOf(fd), &mode) != 0;
}

size_t terminalWidth(int fd) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(handleOf(fd), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool isPipe(int fd) { return GetFileType(handleOf(fd)) == FILE_TYPE_PIPE; }

int errorOfWrite(int error) {
  const DWORD system = GetLastError();
  return system == ERROR_NO_DATA || system == ERROR_BROKEN_PIPE || system == ERROR_PIPE_NOT_CONNECTED ? EPIPE : error;
}

void writeError(const char* text, size_t size) {
  DWORD written;
  WriteFile(handleOf(2), text, static_cast<DWORD>(size), &written, nullptr);
}

int usableProcessors() {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
  int count = 0;
  for (; process; process &= process - 1) ++count;
  return count > 0 ? count : 1;
}

int startThreadElsewhere(pthread_t& thread, void* (*run)(void*), void* argument) {
  return pthread_create(&thread, nullptr, run, argument);
}

size_t pageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

void* mapMemory(size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void* growMemory(void* memory, size_t size, size_t grown, size_t kept) {
  void* moved = mapMemory(grown);
  if (!moved) return nullptr;
  std::memcpy(moved, memory, kept);
  unmapMemory(memory, size);
  return moved;
}

void unmapMemory(void* memory, size_t) {
  if (memory) VirtualFree(memory, 0, MEM_RELEASE);
}

namespace {

std::atomic<void (*)()> sayOnInterrupt{nullptr};

// On a thread of its own, while the others go on; registered before the
// handler of pending files, it runs after it, and before startProgram's.
BOOL WINAPI onInterrupt(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      if (void (*say)() = sayOnInterrupt.load()) say();
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

InterruptNotice::InterruptNotice(void (*say)()) {
  sayOnInterrupt = say;
  SetConsoleCtrlHandler(onInterrupt, TRUE);
}

InterruptNotice::~InterruptNotice() {
  SetConsoleCtrlHandler(onInterrupt, FALSE);
  sayOnInterrupt = nullptr;
}

namespace windows {

void endInterrupted() {
  // Not ExitProcess: it stops the other threads wherever they are, then has
  // the C library flush its streams, whose locks a stopped thread may hold
  // (the run would hang). Ended at once, as a signal ends a process on
  // POSIX: the handler of pending files has removed them.
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  for (;;) Sleep(INFINITE);
}

}  // namespace windows

}  // namespace fsio
