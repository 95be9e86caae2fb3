#include "app/rewrite.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/messages.h"
#include "fsio/files.h"
#include "fsio/replacement.h"

namespace app {

namespace {

constexpr size_t kFlushSize = size_t{256} << 10;  // large enough for few system calls

// The new file, written in large pieces.
class FileSink : public anvil::Sink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}
  void append(const uint8_t* data, size_t size) override {
    if (error_) return;
    buffer_.insert(buffer_.end(), data, data + size);
    if (buffer_.size() >= kFlushSize) flush();
  }
  void writeAt(int64_t offset, const uint8_t* data, size_t size) override {
    flush();
    if (!error_ && !fsio::writeFully(fd_, offset, data, size)) fail(errno);
  }
  int64_t position() const override { return written_ + static_cast<int64_t>(buffer_.size()); }
  void fail(int error) override {
    if (!error_) error_ = error;
  }
  int error() const override { return error_; }
  void flush() {
    if (!error_ && !fsio::writeFully(fd_, written_, buffer_.data(), buffer_.size())) fail(errno);
    if (!error_) written_ += static_cast<int64_t>(buffer_.size());
    buffer_.clear();
  }

 private:
  int fd_;
  int64_t written_ = 0;
  ByteBuffer buffer_;
  int error_ = 0;
};

// After `file` replaced `path`: each other name of the old file that the
// run knows is made a name of the new one; a line says how many names it
// had that the run does not know, which keep the old file. The exit code.
int giveOtherNames(fsio::Replacement& file, const char* path, const Names& others, Output& out) {
  int code = 0;
  for (const std::string& other : others) {
    const fsio::Failure failure = file.linkAs(other);
    reportReplacement(failure, other.c_str(), out);
    if (failure && failure.kind != fsio::Failure::notTheOldFile) code = 1;
  }
  const fsio::FileInfo* old = file.old();
  const long unknown = old ? static_cast<long>(old->links) - 1 - static_cast<long>(others.size()) : 0;
  if (unknown > 0) {
    out.print("Warning: file '%s' has %ld other name%s, which keep%s the old file\n", path, unknown,
              unknown == 1 ? "" : "s", unknown == 1 ? "s" : "");
  }
  return code;
}

// The region's rewrite as its writer sees it: the records of `source`, and
// the chunks too large for one written beside the region, to be put in
// place together with it.
class RegionRewrite : public anvil::RecordSource {
 public:
  RegionRewrite(anvil::RecordSource& source, const char* path, const anvil::RegionFile& original,
                const fsio::Replacement& region, Output& out)
      : source_(source), path_(path), original_(original), region_(region), out_(out) {}

  anvil::NewRecord make(int n, ByteBuffer& record) override {
    const anvil::NewRecord made = source_.make(n, record);
    if (made == anvil::NewRecord::made) ++written_;
    return made;
  }

  bool mayHaveOwnFile(int n) override { return source_.mayHaveOwnFile(n); }
  void keptTooLarge(int n, int64_t sectors, TooLarge why) override {
    --written_;
    source_.keptTooLarge(n, sectors, why);
  }

  // Whether a chunk was written afresh: where every one was kept as stored
  // after all, the region would be the old one laid out anew.
  bool wroteAny() const { return written_ > 0; }

  // Named by the folder the region was named in (a link's, if it is one),
  // as the game names such files; made like the region.
  bool chunkFile(int, const std::string& name, const uint8_t* data, size_t size) override {
    const std::string path = fsio::joined(fsio::directoryOf(path_), name);
    auto file = std::make_unique<fsio::Replacement>();
    fsio::Failure failure = file->begin(path, -1, region_.old(), original_.fd());
    if (!failure && !fsio::writeFully(file->fd(), 0, data, size)) failure = {fsio::Failure::writeFailed, errno, ""};
    if (!failure) failure = file->finish();
    if (failure) {
      reportReplacement(failure, path.c_str(), out_);
      return false;
    }
    files_.emplace_back(path, std::move(file));
    return true;
  }

  // Puts the chunks' files in place, the files they replace kept aside; false
  // (after one line, and every one taken back) when one cannot be.
  bool commitFiles() {
    for (size_t i = 0; i < files_.size(); ++i) {
      if (const fsio::Failure failure = files_[i].second->commit(true)) {
        reportReplacement(failure, files_[i].first.c_str(), out_);
        for (size_t k = 0; k < i; ++k) files_[k].second->rollBack();
        return false;
      }
    }
    return true;
  }
  void rollBackFiles() {
    for (auto& file : files_) file.second->rollBack();
  }
  void settleFiles() {
    for (auto& file : files_) {
      file.second->settle();
      giveOtherNames(*file.second, file.first.c_str(), {}, out_);
    }
  }
  void abortFiles() { files_.clear(); }  // each removes its new file

 private:
  anvil::RecordSource& source_;
  const std::string path_;
  const anvil::RegionFile& original_;
  const fsio::Replacement& region_;
  Output& out_;
  std::vector<std::pair<std::string, std::unique_ptr<fsio::Replacement>>> files_;
  int written_ = 0;
};

}  // namespace

int writeRegionFile(const char* path, anvil::RegionFile& original, anvil::RecordSource& source, Output& out,
                    const std::function<bool()>& changed, const Names& otherNames) {
  if (changed()) return 1;
  fsio::Replacement region;
  if (const fsio::Failure failure = region.begin(path, original.fd())) {
    reportReplacement(failure, path, out);
    return 1;
  }
  anvil::ChunkFiles chunkFiles;
  chunkFiles.named = region.old() && anvil::regionCoordinates(fsio::baseNameOf(path), chunkFiles.regionX, chunkFiles.regionZ);
  RegionRewrite rewrite(source, path, original, region, out);
  FileSink sink(region.fd());
  const bool complete = anvil::writeRegion(sink, original, rewrite, chunkFiles);
  sink.flush();
  if (!complete) return 1;  // said why; every new file goes with the objects
  if (!rewrite.wroteAny()) return 0;  // nothing repaired is written: the file stays as it is
  fsio::Failure failure = sink.error() ? fsio::Failure{fsio::Failure::writeFailed, sink.error(), ""} : region.finish();
  if (failure) {
    reportReplacement(failure, path, out);
    return 1;
  }
  // Last, as close to the renames as can be: a file saved since it was read
  // would lose what was saved.
  if (changed() || !rewrite.commitFiles()) return 1;
  if ((failure = region.commit())) {
    rewrite.rollBackFiles();
    reportReplacement(failure, path, out);
    return 1;
  }
  rewrite.settleFiles();
  return giveOtherNames(region, path, otherNames, out);
}

int replaceWithBytes(const char* path, int originalFd, const std::function<bool()>& changed, const ByteBuffer& bytes,
                     Output& out, const Names& otherNames) {
  if (changed()) return 1;
  fsio::Replacement file;
  fsio::Failure failure = file.begin(path, originalFd);
  if (!failure && !fsio::writeFully(file.fd(), 0, bytes.data(), bytes.size())) {
    failure = {fsio::Failure::writeFailed, errno, ""};
  }
  if (!failure) failure = file.finish();
  if (failure) {
    reportReplacement(failure, path, out);
    return 1;
  }
  if (changed()) return 1;
  if ((failure = file.commit())) {
    reportReplacement(failure, path, out);
    return 1;
  }
  return giveOtherNames(file, path, otherNames, out);
}

}  // namespace app
