#include "app/console.h"

#include <cstdarg>
#include <string>

#include "books/report.h"

namespace app {

void Output::print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = books::formatted(format, args);
  va_end(args);
  write(line);
}

}  // namespace app
