#include "app/progress.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/text.h"
#include "fsio/system.h"

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

// What the handler of an interruption says: plain numbers, read at any moment.
std::atomic<size_t> filesOfRun{0}, filesDoneOfRun{0};
std::atomic<bool> lineShown{false};
static_assert(std::atomic<size_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free, "the handler reads them");

void appendNumber(char*& at, size_t n) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  while (count > 0) *at++ = digits[--count];
}
void append(char*& at, const char* text) {
  const size_t n = std::strlen(text);
  std::memcpy(at, text, n);
  at += n;
}

void onInterrupt() {
  char text[256];
  char* at = text;
  if (lineShown.load()) append(at, "\r\033[K");
  append(at, "Interrupted: ");
  appendNumber(at, filesDoneOfRun.load());
  append(at, " of ");
  appendNumber(at, filesOfRun.load());
  append(at, " files done; the rest left as they were\n");
  fsio::writeError(text, static_cast<size_t>(at - text));
}

}  // namespace

Progress::Progress(size_t files, int64_t bytes, bool check)
    // Not when standard output is a pipe: read by a pager or a program,
    // whose screen a line drawn on the terminal would spoil.
    : active_(fsio::isTerminal(2) && !fsio::isPipe(1)), files_(files), bytes_(bytes), check_(check),
      start_(std::chrono::steady_clock::now()) {
  filesOfRun = files;
  filesDoneOfRun = 0;
  notice_.emplace(onInterrupt);
  std::lock_guard<std::mutex> lock(mutex_);
  draw(true);  // at once: a long run says so from its start
}

Progress::~Progress() {
  finish();
}

void Progress::fileDone(int64_t bytes, long pages) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesDone_;
  filesDoneOfRun = filesDone_;
  bytesDone_ += bytes;
  pages_ += pages;
  draw(filesDone_ == files_);
}

void Progress::draw(bool always) {
  if (!active_ || finished_) return;
  const auto now = std::chrono::steady_clock::now();
  // Also when a line of output has hidden it: a run of many small files
  // would redraw it after each.
  if (!always && drawn_.time_since_epoch().count() != 0 && now - drawn_ < std::chrono::milliseconds(100)) return;
  drawn_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  std::string left = "time left unknown";
  if (bytesDone_ > 0 && bytes_ > bytesDone_) {
    left = "about " + duration(elapsed * static_cast<double>(bytes_ - bytesDone_) / static_cast<double>(bytesDone_)) +
           " left";
  } else if (filesDone_ == files_) {
    left = "done in " + duration(elapsed);
  }
  const std::string files = formatted("%zu/%zu files", filesDone_, files_);
  const std::string megabytes =
      formatted(", %.1f/%.1f MB", static_cast<double>(bytesDone_) / 1e6, static_cast<double>(bytes_) / 1e6);
  const std::string pages = formatted(", %ld page%s %s", pages_, pages_ == 1 ? "" : "s", check_ ? "to repair" : "repaired");
  // Never wrapped, which would leave a line behind at each redraw: on a
  // narrow terminal the megabytes go first, then the pages, then it is cut.
  // (The last column is left free: some terminals wrap on it.)
  const size_t width = fsio::terminalWidth(2);
  const size_t room = width > 1 ? width - 1 : SIZE_MAX;
  std::string line = files + megabytes + pages + ", " + left;
  if (line.size() > room) line = files + pages + ", " + left;
  if (line.size() > room) line = files + ", " + left;
  if (line.size() > room) line.resize(room);
  lineShown = true;  // before it is drawn: an interruption while it is clears it
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void Progress::hide() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
  lineShown = false;
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
      terminal_(progress.active() && fsio::isTerminal(fileno(stream))) {}

void OutputBesideProgress::write(std::string_view text) {
  if (!terminal_) {
    StreamOutput::write(text);
  } else if (!progress_.writeBeside(stream_, text)) {
    failed(errno);
  }
}

}  // namespace app
