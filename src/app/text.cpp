#include "app/text.h"

#include <cstdarg>
#include <cstdio>

namespace app {

std::string shown(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c >= 0x20 && c != 0x7f) || (c == '\n' && i + 1 == text.size())) {
      out += static_cast<char>(c);
    } else {
      static const char digits[] = "0123456789abcdef";
      out += {'\\', 'x', digits[c >> 4], digits[c & 15]};
    }
  }
  return out;
}

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
  return shown(text);
}

std::string formatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = formatted(format, args);
  va_end(args);
  return line;
}

}  // namespace app
