#pragma once

// What fsio's Windows side shares: paths as the system takes them, and its
// errors as errno's. Included by fsio's own files alone.

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX  // std::min, not a macro
#endif
#include <windows.h>

#include <string>

namespace fsio::windows {

// UTF-8 to UTF-16 and back; a byte that is no UTF-8 becomes U+FFFD.
std::wstring wide(const std::string& text);
std::string narrow(const std::wstring& text);
// The path as a system call takes it: wide, and when longer than the old
// limit of 260, absolute in the \\?\ form (which takes no '/', '.' or '..').
std::wstring systemPath(const std::string& path);
// The CRT descriptor's handle, or INVALID_HANDLE_VALUE.
HANDLE handleOf(int fd);
// A handle made a CRT descriptor (closed on failure); -1 with errno set.
int descriptorOf(HANDLE handle, int flags);
// The errno that tells what the system's error says; sets errno to it too.
int setErrno(DWORD error);
// Ends the process at once with Ctrl-C's code, 0xC000013A (Wine's own
// ending would say 0, a success).
[[noreturn]] void endInterrupted();

}  // namespace fsio::windows

#endif
