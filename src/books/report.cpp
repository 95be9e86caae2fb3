#include "books/report.h"

#include <cstdarg>
#include <cstdio>

namespace books {

void Report::addf(Finding kind, const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    add(kind, std::string(small, static_cast<size_t>(n)));
    return;
  }
  std::string line(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(line.data(), line.size(), format, args);
  va_end(args);
  line.pop_back();
  add(kind, line);
}

}  // namespace books
