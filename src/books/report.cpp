#include "books/report.h"

#include <cstdarg>
#include <cstdio>

namespace books {

std::string formatted(const char* format, va_list args) {
  // Measured first, then written: a line of any length comes out whole.
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}

void Report::addf(Finding kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = formatted(format, args);
  va_end(args);
  if (!line.empty()) add(kind, line);
}

}  // namespace books
