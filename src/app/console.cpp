#include "app/console.h"

#include <cstdarg>
#include <string>

namespace app {

void Output::print(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    write(std::string_view(small, static_cast<size_t>(n)));
    return;
  }
  std::string line(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(line.data(), line.size(), format, args);
  va_end(args);
  line.pop_back();
  write(line);
}

}  // namespace app
