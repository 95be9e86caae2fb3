#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string_view>

#include "app/console.h"
#include "fsio/system.h"

namespace app {

// A line on standard error, when that is a terminal and standard output is
// no pipe (a pager's), redrawn in place at most ten times a second as files
// are done: how many of how many, the megabytes read, the pages repaired (or
// to repair) and about how long is left, never wider than the terminal; its
// last drawing says how long the run took. Elsewhere it is nothing at all.
// While it lives, SIGINT and SIGTERM end the run with a word of how far it
// came ("Interrupted: N of M files done; the rest left as they were"), and
// the process ends as the signal ends it (a shell says 130, 143);
// temporaries are removed first (see fsio::PendingFile).
class Progress {
 public:
  Progress(size_t files, int64_t bytes, bool check);
  ~Progress();
  void fileDone(int64_t bytes, long pages);
  // Clears the line and writes `text` to `stream`, which goes to the same
  // terminal, with no line drawn in between; false (errno set) when the
  // text could not be written.
  bool writeBeside(std::FILE* stream, std::string_view text);
  // Clears it for good.
  void finish();
  bool active() const { return active_; }

 private:
  void draw(bool always);
  void hide();  // with the lock held

  std::mutex mutex_;
  bool active_, shown_ = false, finished_ = false;
  const size_t files_;
  const int64_t bytes_;
  const bool check_;
  size_t filesDone_ = 0;
  int64_t bytesDone_ = 0;
  long pages_ = 0;
  std::chrono::steady_clock::time_point start_, drawn_;
  std::optional<fsio::InterruptNotice> notice_;  // after what it reads
};

// Standard output that clears the progress line before it writes, when
// both go to the same terminal.
class OutputBesideProgress : public StreamOutput {
 public:
  OutputBesideProgress(std::FILE* stream, Progress& progress);
  void write(std::string_view text) override;

 private:
  Progress& progress_;
  bool terminal_;
};

}  // namespace app
