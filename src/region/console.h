#pragma once

#include <cstdio>

// The program's own lines (the command line, the file as a whole): printf-style
// formatting to standard output, nothing added; each text carries its line end.
void printMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where printMessage writes: standard output, unless a program whose output
// is something else (trees) sends its messages to standard error.
void printMessagesTo(std::FILE* stream);

// Makes sure descriptors 0, 1 and 2 are open before any file is: a program
// started with one of them closed would otherwise open a region there, and
// its messages would be written into the region.
void occupyStandardDescriptors();
