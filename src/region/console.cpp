#include "region/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace {
std::FILE* messages = nullptr;  // standard output
}

void printMessagesTo(std::FILE* stream) { messages = stream; }

void printMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(messages ? messages : stdout, format, args);
  va_end(args);
}

void occupyStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one. Where there is no /dev/null,
    // the root folder, which no one can write to through it, takes the place.
    int opened = open("/dev/null", O_RDWR);
    if (opened < 0) opened = open("/", O_RDONLY | O_DIRECTORY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}
