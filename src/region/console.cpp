#include "region/console.h"

#include <cstdarg>
#include <cstdio>

void printMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
}
