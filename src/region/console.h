#pragma once

// The program's own lines (the command line, the file as a whole): printf-style
// formatting to standard output, nothing added; each text carries its line end.
void printMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Makes sure descriptors 0, 1 and 2 are open before any file is: a program
// started with one of them closed would otherwise open a region there, and
// its messages would be written into the region.
void occupyStandardDescriptors();
