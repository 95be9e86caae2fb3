#include "anvil/nbt_file.h"

#include <cerrno>

#include "anvil/chunk_root.h"
#include "nbt/writer.h"

namespace anvil {

NbtFile::~NbtFile() {
  fsio::closeFile(fd_);
}

NbtFileStatus NbtFile::load(const char* path, bool readRoot) {
  NbtFileStatus status;
  // Without waiting: opening a FIFO for reading would block until a writer came.
  fd_ = fsio::openToRead(path);
  fsio::FileInfo info;
  if (fd_ < 0 || !fsio::infoOf(fd_, info) || info.type != fsio::FileInfo::regular) {
    status.fault = NbtFileStatus::cannotOpen;
    return status;
  }
  opened_ = FileIdentity::of(info);
  if (static_cast<uint64_t>(info.size) > kMaxChunkBytes) {
    status.fault = NbtFileStatus::tooLarge;
    return status;
  }
  ByteBuffer stored(static_cast<size_t>(info.size));
  for (size_t at = 0; at < stored.size();) {
    const int64_t n = fsio::readAt(fd_, stored.data() + at, stored.size() - at, static_cast<int64_t>(at));
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
  if (!readRoot) return status;
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
  return stillTheFileRead(fd_, path, opened_);
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

CodecStatus NbtFile::encode(const ByteBuffer& tree, size_t end, ByteBuffer& out) {
  ByteBuffer serialised(tree);
  serialised.insert(serialised.end(), inflater_.data() + end, inflater_.data() + inflater_.size());
  out.clear();
  const CodecStatus status = gzip(serialised.data(), serialised.size(), out);
  out.insert(out.end(), afterGzip_.begin(), afterGzip_.end());
  return status;
}

}  // namespace anvil
