#pragma once

// The single way the program writes text: printf-style formatting to standard
// output, nothing added. Each message carries its own line end.
void printMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
