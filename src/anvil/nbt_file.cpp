#include "anvil/nbt_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "anvil/chunk_root.h"
#include "nbt/writer.h"

namespace anvil {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

NbtFile::~NbtFile() {
  if (fd_ >= 0) close(fd_);
}

NbtFileStatus NbtFile::load(const char* path) {
  NbtFileStatus status;
  // Without waiting: opening a FIFO for reading would block until a writer came.
  fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0 || fstat(fd_, &opened_) != 0 || !S_ISREG(opened_.st_mode)) {
    status.fault = NbtFileStatus::cannotOpen;
    return status;
  }
  if (static_cast<uint64_t>(opened_.st_size) > kMaxChunkBytes) {
    status.fault = NbtFileStatus::tooLarge;
    return status;
  }
  ByteBuffer stored(static_cast<size_t>(opened_.st_size));
  for (size_t at = 0; at < stored.size();) {
    const ssize_t n = pread(fd_, stored.data() + at, stored.size() - at, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      status.fault = NbtFileStatus::cannotRead;
      return status;
    }
    at += static_cast<size_t>(n);
  }
  size_t consumed;
  status.codec = inflater_.gunzip(stored.data(), stored.size(), &consumed);
  if (status.codec.outcome != CodecStatus::ok) {
    status.fault = NbtFileStatus::undecoded;
    return status;
  }
  afterGzip_.assign(stored.begin() + static_cast<long>(consumed), stored.end());
  size_t end;
  status.root = readFileRoot(inflater_.data(), inflater_.size(), tree_, rootName_, end);
  if (!status.root) {
    status.fault = NbtFileStatus::unread;
    return status;
  }
  afterRoot_.assign(inflater_.data() + end, inflater_.data() + inflater_.size());
  return status;
}

bool NbtFile::unchanged(const char* path) const {
  struct stat now, named;
  return fstat(fd_, &now) == 0 && sameFile(now, opened_) && stat(path, &named) == 0 && sameFile(named, opened_);
}

CodecStatus NbtFile::encode(ByteBuffer& out) {
  ByteBuffer serialised;
  nbt::writeNamedTag(rootName_, tree_.root(), serialised);
  serialised.insert(serialised.end(), afterRoot_.begin(), afterRoot_.end());
  out.clear();
  const CodecStatus status = gzip(serialised.data(), serialised.size(), out);
  out.insert(out.end(), afterGzip_.begin(), afterGzip_.end());
  return status;
}

}  // namespace anvil
