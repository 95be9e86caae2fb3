#pragma once

// The rest of what differs from one system to another, for the rooms above:
// the console, the processors, memory straight from the system, and being
// interrupted. The C library only (on Windows, its calls).

#include <pthread.h>

#include <cstddef>

namespace fsio {

// What every program does first: makes sure descriptors 0, 1 and 2 are open
// (occupyStandardDescriptors), readies the console (prepareConsole), with
// `ignoreBrokenPipe` makes a reader that went away fail the writes to it
// rather than end the process, and on Windows gives the arguments as UTF-8
// (the system holds them as wide strings; the `argv` it gives is in the
// code page, which cannot hold every name), the program named as a user
// types it there (pagemend, not C:\...\pagemend.exe).
void startProgram(int& argc, char**& argv, bool ignoreBrokenPipe);

// Makes the standard output and error take the bytes written as they are:
// on Windows, UTF-8 on the console (SetConsoleOutputCP), "\n" not made
// "\r\n", and a terminal's escapes understood. Nothing elsewhere.
void prepareConsole();
// Whether the descriptor is a terminal (a console); its width in columns, 0 when it does not say.
bool isTerminal(int fd);
size_t terminalWidth(int fd);
// Whether it is a pipe (read by a pager or another program).
bool isPipe(int fd);
// The errno a failed write to a standard stream tells: EPIPE where its
// reader went away (Windows' C library says EINVAL then), else `error`.
int errorOfWrite(int error);
// Writes to standard error at any moment, a handler's included.
void writeError(const char* text, size_t size);

// The processors this process may run on, not all the machine has.
int usableProcessors();
// Starts `run(argument)` on a new thread, from its first instant on another
// processor than this thread's where the system lets it choose (started
// where this thread runs, as the system tends to, it takes that processor
// and this thread waits, on some virtual machines for milliseconds, to be
// moved). 0, or the error.
int startThreadElsewhere(pthread_t& thread, void* (*run)(void*), void* argument);

// Memory of `size` bytes (a multiple of pageSize()) mapped from the system,
// so that given back it is given back at once (an allocator may keep it),
// and only the pages written are resident; null when there is none.
// Grown keeps the first `kept` bytes, and may move it.
size_t pageSize();
void* mapMemory(size_t size);
void* growMemory(void* memory, size_t size, size_t grown, size_t kept);
void unmapMemory(void* memory, size_t size);

// While one is alive, an interruption of the run (SIGINT and SIGTERM; on
// Windows Ctrl-C, Ctrl-Break and the console closed) calls `say`, which may
// only write (writeError) and read atomics, then ends the process as the
// interruption would have (a shell's loop stops on it, and says 130 or
// 143). One ignored when it begins (under nohup) stays ignored.
class InterruptNotice {
 public:
  explicit InterruptNotice(void (*say)());
  ~InterruptNotice();
  InterruptNotice(const InterruptNotice&) = delete;
  InterruptNotice& operator=(const InterruptNotice&) = delete;
};

}  // namespace fsio
