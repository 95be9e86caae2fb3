#pragma once

// The single way the program writes text: printf-style formatting to standard
// output, nothing added. Each message carries its own line end.
void printMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

#include <cstdio>

// Where messages go: standard output unless a tool chooses otherwise (the
// dump tool sends the loader's reports to standard error, beside its trees).
void setMessageOutput(std::FILE* stream);
