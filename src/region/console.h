#pragma once

// The program's own lines (the command line, the file as a whole): printf-style
// formatting to standard output, nothing added; each text carries its line end.
void printMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
