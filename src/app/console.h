#pragma once

// Where the program's lines go. This room is the only one that prints: the
// rooms below it hand up what they found, and the program turns that into
// lines here.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/text.h"
#include "fsio/system.h"

namespace app {

// A file's lines, written in the order they come.
class Output {
 public:
  virtual ~Output() = default;
  virtual void write(std::string_view text) = 0;
  // printf-style, nothing added: each text carries its own line end. With
  // `jsonFile` set (--json), the line is written as a JSON object about it.
  void print(const char* format, ...) __attribute__((format(PAGEMEND_PRINTF, 2, 3)));
  const char* jsonFile = nullptr;
  // Makes what was written so far visible; false when the output failed.
  virtual bool flush() { return true; }
  // The system's error of the first write that failed (EPIPE: the reader
  // went away), 0 while none did.
  virtual int error() const { return 0; }
};

// A standard stream: standard output, or standard error for a program whose
// standard output holds something else (trees).
class StreamOutput : public Output {
 public:
  explicit StreamOutput(std::FILE* stream) : stream_(stream) {}
  void write(std::string_view text) override {
    if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) failed(errno);
  }
  bool flush() override {
    if (std::fflush(stream_) != 0) failed(errno);
    return !std::ferror(stream_);
  }
  int error() const override { return error_; }

 protected:
  void failed(int error) {
    int none = 0;
    error = fsio::errorOfWrite(error);
    error_.compare_exchange_strong(none, error ? error : EIO);
  }
  std::FILE* stream_;

 private:
  std::atomic<int> error_{0};
};

}  // namespace app
