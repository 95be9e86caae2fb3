#include "console/console.h"

#include <cstdarg>
#include <cstdio>

namespace {
std::FILE* output = nullptr;  // null: standard output, whatever it is at the time
}

void setMessageOutput(std::FILE* stream) { output = stream; }

void printMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(output ? output : stdout, format, args);
  va_end(args);
}
