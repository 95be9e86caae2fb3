#pragma once

// The one escaping of the program's text: every line, whoever makes it, and
// every text a line holds, goes through `shown`.

#include <cstdarg>
#include <string>
#include <string_view>

// The formats GCC checks against: C99's, which MinGW's printf follows too
// (msvcrt's, which GCC means there by "printf", knows no %zu).
#ifdef __MINGW32__
#define PAGEMEND_PRINTF gnu_printf
#else
#define PAGEMEND_PRINTF printf
#endif

namespace app {

// One line as it is written: every control character (a byte below 0x20, or
// 0x7F) as \xHH, but for the line feed that ends it. Titles, pages, ids and
// names of files come from whoever wrote the file (any player or plugin on a
// server); written raw, they could clear a terminal or forge a line of their
// own. Other bytes are written as they are stored.
std::string shown(std::string_view line);

// printf-style, one line of any length, whole, as `shown` writes it; empty
// for a format the C library refuses. Every line of the program is made
// with it, so a format holds one line, its line feed last.
std::string formatted(const char* format, va_list args) __attribute__((format(PAGEMEND_PRINTF, 1, 0)));
std::string formatted(const char* format, ...) __attribute__((format(PAGEMEND_PRINTF, 1, 2)));

}  // namespace app
