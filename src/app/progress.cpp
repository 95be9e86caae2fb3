#include "app/progress.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace app {

namespace {

// 1:05, 12:00:07
std::string duration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  }
  return text;
}

}  // namespace

Progress::Progress(size_t files, int64_t bytes, bool check)
    : active_(isatty(STDERR_FILENO) == 1), files_(files), bytes_(bytes), check_(check),
      start_(std::chrono::steady_clock::now()) {
  std::lock_guard<std::mutex> lock(mutex_);
  draw(true);  // at once: a long run says so from its start
}

void Progress::fileDone(int64_t bytes, long pages) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesDone_;
  bytesDone_ += bytes;
  pages_ += pages;
  draw(filesDone_ == files_);
}

void Progress::draw(bool always) {
  if (!active_ || finished_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!always && shown_ && now - drawn_ < std::chrono::milliseconds(100)) return;
  drawn_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::string left = "time left unknown";
  if (bytesDone_ > 0 && bytes_ > bytesDone_) {
    left = "about " + duration(elapsed * static_cast<double>(bytes_ - bytesDone_) / static_cast<double>(bytesDone_)) +
           " left";
  } else if (filesDone_ == files_) {
    left = duration(elapsed);
  }
  std::fprintf(stderr, "\r\033[K%zu/%zu files, %.1f/%.1f MB, %ld page%s %s, %s", filesDone_, files_,
               static_cast<double>(bytesDone_) / 1e6, static_cast<double>(bytes_) / 1e6, pages_, pages_ == 1 ? "" : "s",
               check_ ? "to repair" : "repaired", left.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void Progress::hide() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

bool Progress::writeBeside(std::FILE* stream, std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  hide();
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

void Progress::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  hide();
  finished_ = true;
}

OutputBesideProgress::OutputBesideProgress(std::FILE* stream, Progress& progress)
    : StreamOutput(stream), progress_(progress),
      terminal_(progress.active() && isatty(fileno(stream)) == 1) {}

void OutputBesideProgress::write(std::string_view text) {
  if (!terminal_) {
    StreamOutput::write(text);
  } else if (!progress_.writeBeside(stream_, text)) {
    failed(errno);
  }
}

}  // namespace app
