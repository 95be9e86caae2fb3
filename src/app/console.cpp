#include "app/console.h"

#include <cstdarg>
#include <string>

#include "app/json_lines.h"
#include "app/text.h"

namespace app {

void Output::print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string line = formatted(format, args);
  va_end(args);
  write(jsonFile ? jsonMessage(jsonFile, line) : line);
}

}  // namespace app
