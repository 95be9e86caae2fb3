#pragma once

// What the inspection of a chunk finds, handed to the caller line by line in
// the order it is found; the caller decides where the lines go.

#include <cstdarg>
#include <string>

namespace books {

// printf-style text of any length, whole; empty for a format the C library
// refuses. The program's lines are made with it too.
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
