#pragma once

// What the inspection of a chunk finds, handed to the caller line by line in
// the order it is found; the caller decides where the lines go.

#include <cstdarg>
#include <string>
#include <string_view>

namespace books {

// One line as it is written: every control character (a byte below 0x20, or
// 0x7F) as \xHH, but for the line feed that ends it. Titles, pages, ids and
// names of files come from whoever wrote the file (any player or plugin on a
// server); written raw, they could clear a terminal or forge a line of their
// own. Other bytes are written as they are stored.
std::string shown(std::string_view line);

// printf-style, one line of any length, whole, as `shown` writes it; empty
// for a format the C library refuses. Every line of the program is made
// with it, so a format holds one line, its line feed last.
std::string formatted(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

enum class Finding {
  pageRepaired,    // "Book ... repaired"
  mayBeCorrupted,  // "Book ... may have been corrupted"
  warning,         // "Warning: ...": malformed data inside a chunk
  error,           // "Error: ..." and "ERROR: ...": what kept a chunk from loading or being written
};

class Report {
 public:
  virtual ~Report() = default;
  // One whole line, with its line end.
  virtual void add(Finding kind, const std::string& line) = 0;
  // The same, formatted printf-style.
  void addf(Finding kind, const char* format, ...) __attribute__((format(printf, 3, 4)));
};

}  // namespace books
