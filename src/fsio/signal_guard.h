#pragma once

// Files to remove if the process is ended by a signal before they are
// renamed into place: the temporaries of replacements under way. While any
// is registered, SIGINT, SIGTERM, SIGHUP and SIGQUIT run a handler that
// removes them, then ends the process as the signal would have (the
// disposition found before is put back and the signal raised again). A
// signal ignored when the first file is registered (under nohup, or in a
// script's background job) stays ignored, and every disposition is put back
// exactly as it was once the last file is released, as git's sigchain does.
//
// Threads may make, register and release files side by side. A file made
// through create() or link() is made and registered at once, as far as the
// handler can tell: it either finds the file registered or the file is
// never made, since after a terminating signal no thread makes one any more.

#include <sys/types.h>

namespace fsio {

struct PendingSlot;

class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile() { release(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Registers `path`, a file the caller has made (the handler only removes
  // it; the caller still does when it gives up). False when a terminating
  // signal came meanwhile, or the path is longer than a path may be.
  bool hold(const char* path);
  // Makes a new file at `path` (open for writing, as open(2) with O_CREAT |
  // O_EXCL makes it) and registers it. The descriptor, or -1 with errno set
  // (EINTR once a terminating signal came).
  int create(const char* path, mode_t mode);
  // Makes `path` a new name of the file named `existing`, and registers it.
  // False with errno set, as create().
  bool link(const char* existing, const char* path);
  // No longer to be removed by the handler (renamed into place, or removed).
  void release();

 private:
  PendingSlot* slot_ = nullptr;
};

}  // namespace fsio
