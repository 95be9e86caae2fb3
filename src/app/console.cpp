#include "app/console.h"

#include <cstdarg>
#include <string>

namespace app {

void Output::print(const char* format, ...) {
  // Measured first, then written: a line of any length comes out whole.
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line;
  if (n >= 0) {
    line.resize(static_cast<size_t>(n));
    std::vsnprintf(line.data(), line.size() + 1, format, again);
  }
  va_end(again);
  if (n >= 0) write(line);  // else a format the C library refused: no line rather than a wrong one
}

}  // namespace app
