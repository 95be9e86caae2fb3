#pragma once

// Files to remove if the process is ended by a signal before they are
// renamed into place: the temporaries of replacements under way. While any
// is registered, SIGINT, SIGTERM, SIGHUP and SIGQUIT run a handler that
// removes them, then ends the process as the signal would have (the
// disposition found before is put back and the signal raised again). A
// signal ignored when the first file is registered (under nohup, or in a
// script's background job) stays ignored, and every disposition is put back
// exactly as it was once the last file is released, as git's sigchain does.
// Threads may register and release files side by side.

namespace fsio {

class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile() { release(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Registers `path` (the handler only removes it; the caller still does
  // when it gives up). False when every place for one is taken: the file is
  // then left by a killed run, to be removed by the next one.
  bool hold(const char* path);
  // No longer to be removed by the handler (renamed into place, or removed).
  void release();

 private:
  int slot_ = -1;
};

}  // namespace fsio
