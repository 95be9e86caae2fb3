#include "anvil/codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "anvil/layout.h"
#include "fsio/system.h"

namespace anvil {

namespace {

// zlib is given this much room per call, as it always was, so its results
// (and the codes reported) do not depend on how much memory is at hand.
constexpr size_t kStep = size_t{1} << 20;

// What an inflate result that ends the stream came to (a broken stream
// state, a bad or unreadable stream), the stream ended; ok for any other.
CodecStatus inflateFailure(z_stream& stream, int r) {
  CodecStatus status;
  if (r == Z_STREAM_ERROR) {
    status = {CodecStatus::streamError, "inflate", r};
  } else if (r == Z_NEED_DICT || r == Z_DATA_ERROR || r == Z_MEM_ERROR) {
    status = {CodecStatus::failed, "inflate", r};
  } else {
    return status;
  }
  inflateEnd(&stream);
  return status;
}

}  // namespace

Inflater::Inflater(bool zlibOnly, size_t limit)
    : zlibOnly_(zlibOnly), limit_(limit), fast_(libdeflate_alloc_decompressor()) {
  if (!fast_) throw std::bad_alloc();
}

Inflater::~Inflater() {
  libdeflate_free_decompressor(fast_);
  release();
}

void Inflater::release() {
  fsio::unmapMemory(buffer_, capacity_);
  buffer_ = nullptr;
  capacity_ = size_ = 0;
}

// Mapped from the system directly, so that a buffer given up is given back at
// once (an allocator may keep it), and only the pages written are resident.
void Inflater::reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  const size_t page = fsio::pageSize();
  capacity = (capacity + page - 1) / page * page;
  void* grown;
  if (size_ > 0) {
    grown = fsio::growMemory(buffer_, capacity_, capacity, size_);
  } else {
    fsio::unmapMemory(buffer_, capacity_);  // before the new one: the two are never held at once
    buffer_ = nullptr;
    capacity_ = 0;
    grown = fsio::mapMemory(capacity);
  }
  if (!grown) throw std::bad_alloc();
  buffer_ = static_cast<uint8_t*>(grown);
  capacity_ = capacity;
}

CodecStatus Inflater::inflate(const uint8_t* data, size_t size) {
  size_ = 0;
  checksumMissing_ = 0;
  if (!zlibOnly_) {
    size_t want = std::max({capacity_, 4 * size, kStep});
    for (;;) {
      reserve(std::min(want, limit_));
      // Never more than the bound, whatever room an earlier chunk left.
      const size_t room = std::min(capacity_, limit_);
      const int r = inflateFast(data, size, room);
      if (r == LIBDEFLATE_SUCCESS) return {};
      if (r != LIBDEFLATE_INSUFFICIENT_SPACE || room >= limit_) break;
      want = 2 * room;
    }
  }
  return inflateWithZlib(data, size);
}

// The stream's wrapping is read here and its deflate data by libdeflate, so
// that a stream a few bytes short of its checksum, which libdeflate's zlib
// reader refuses, is still inflated once: the checksum's bytes that are
// there are checked against the output. What zlib might judge otherwise (a
// window smaller than 32 KiB, a preset dictionary, a wrong checksum) is
// left to it: BAD_DATA.
int Inflater::inflateFast(const uint8_t* data, size_t size, size_t room) {
  if (size < 2 || (data[0] & 0x0f) != Z_DEFLATED || (data[0] >> 4) != 7 || (data[1] & 0x20) != 0 ||
      ((data[0] << 8) | data[1]) % 31 != 0) {
    return LIBDEFLATE_BAD_DATA;
  }
  size_t used = 0, produced = 0;
  const libdeflate_result r =
      libdeflate_deflate_decompress_ex(fast_, data + 2, size - 2, buffer_, room, &used, &produced);
  if (r != LIBDEFLATE_SUCCESS) return r;
  const uint32_t checksum = libdeflate_adler32(1, buffer_, produced);
  const size_t present = std::min<size_t>(4, size - 2 - used);
  const uint8_t* tail = data + 2 + used;
  for (size_t i = 0; i < present; ++i) {
    if (tail[i] != static_cast<uint8_t>(checksum >> (24 - 8 * i))) return LIBDEFLATE_BAD_DATA;
  }
  size_ = produced;
  if (present < 4) {
    checksum_ = checksum;
    checksumMissing_ = static_cast<int>(4 - present);
  }
  return LIBDEFLATE_SUCCESS;
}

// Every member, one after another, as Java's reader reads them; zlib alone
// reads gzip (rare in regions, never written by default), so that its
// verdicts and codes are zlib's. inflate's results: as for zlib streams.
CodecStatus Inflater::gunzip(const uint8_t* data, size_t size, size_t* consumed) {
  size_ = 0;
  checksumMissing_ = 0;
  if (consumed) *consumed = 0;
  if (size > UINT32_MAX) return {CodecStatus::tooLarge, "inflate", Z_BUF_ERROR};
  z_stream stream{};
  int r = inflateInit2(&stream, 16 + MAX_WBITS);  // gzip's wrapping, not zlib's
  if (r != Z_OK) return {CodecStatus::failed, "inflateInit", r};
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  for (;;) {
    if (const CodecStatus failure = inflateStep(stream, r); failure.outcome != CodecStatus::ok) return failure;
    if (r == Z_STREAM_END) {
      if (consumed) *consumed = size - stream.avail_in;
      if (stream.avail_in < 2 || stream.next_in[0] != 0x1f || stream.next_in[1] != 0x8b) break;
      inflateReset(&stream);
    } else if (stream.avail_out != 0) {
      break;  // stopped short
    }
  }
  inflateEnd(&stream);
  if (r != Z_STREAM_END) return {CodecStatus::failed, "inflateEnd", r};
  return {};
}

// inflateInit: Z_OK, or Z_MEM_ERROR / Z_VERSION_ERROR / Z_STREAM_ERROR, all
// reported as "inflateInit". inflate: Z_OK and Z_BUF_ERROR mean "go on or
// stopped short", Z_STREAM_END success, Z_NEED_DICT / Z_DATA_ERROR /
// Z_MEM_ERROR a bad or unreadable stream, Z_STREAM_ERROR a broken stream
// state. inflateEnd's result carries nothing we act on.
CodecStatus Inflater::inflateWithZlib(const uint8_t* data, size_t size) {
  z_stream stream{};
  int r = inflateInit(&stream);
  if (r != Z_OK) return {CodecStatus::failed, "inflateInit", r};
  const CodecStatus status = drain(stream, data, size, r);
  if (status.outcome != CodecStatus::ok) return status;
  if (r == Z_STREAM_END) return {};
  // Stopped short. The game reads a chunk's tree and stops there, never
  // asking for the checksum at the stream's end, and some tools write
  // records a byte or more short of it: such a chunk is read as the game
  // reads it, if what there is of its checksum is right.
  if (stream.avail_in == 0 && inflateWithoutChecksum(data, size)) return {};
  return {CodecStatus::failed, "inflateEnd", r};
}

// One call of inflate into the next kStep bytes of the buffer, past the
// bytes it holds; `r` is inflate's result. Not ok (the stream ended) for a
// failure, or beyond the bound.
CodecStatus Inflater::inflateStep(z_stream& stream, int& r) {
  if (capacity_ - size_ < kStep) reserve(std::max(size_ + kStep, std::min(2 * capacity_, limit_ + kStep)));
  stream.next_out = buffer_ + size_;
  stream.avail_out = static_cast<uInt>(kStep);
  r = ::inflate(&stream, Z_NO_FLUSH);
  if (const CodecStatus failure = inflateFailure(stream, r); failure.outcome != CodecStatus::ok) return failure;
  size_ += kStep - stream.avail_out;
  if (size_ > limit_) {
    inflateEnd(&stream);
    return {CodecStatus::tooLarge, "inflate", r};
  }
  return {};
}

// Inflates all it can of `data` into the buffer (from its start) and ends
// the stream; `r` is inflate's last result. Not ok for a failure.
CodecStatus Inflater::drain(z_stream& stream, const uint8_t* data, size_t size, int& r) {
  size_ = 0;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);  // records are shorter than 2 GiB
  do {
    if (const CodecStatus failure = inflateStep(stream, r); failure.outcome != CodecStatus::ok) return failure;
  } while (stream.avail_out == 0);
  inflateEnd(&stream);
  return {};
}

// A zlib stream whose deflate data ends within `data`, followed by the first
// bytes of its checksum (none to three), all of them right.
bool Inflater::inflateWithoutChecksum(const uint8_t* data, size_t size) {
  // The stream's header: deflate, a window it may have, no preset dictionary.
  if (size < 2 || (data[0] & 0x0f) != Z_DEFLATED || (data[0] >> 4) > 7 || (data[1] & 0x20) != 0 ||
      ((data[0] << 8) | data[1]) % 31 != 0) {
    return false;
  }
  z_stream stream{};
  int r = inflateInit2(&stream, -((data[0] >> 4) + 8));  // the deflate data alone
  if (r != Z_OK) return false;
  if (drain(stream, data + 2, size - 2, r).outcome != CodecStatus::ok || r != Z_STREAM_END) return false;
  const size_t present = stream.avail_in;
  const uint32_t checksum = static_cast<uint32_t>(adler32_z(adler32_z(0, nullptr, 0), buffer_, size_));
  const uint8_t* tail = data + size - present;
  for (size_t i = 0; i < present; ++i) {
    if (i >= 4 || tail[i] != static_cast<uint8_t>(checksum >> (24 - 8 * i))) return false;
  }
  checksum_ = checksum;
  checksumMissing_ = static_cast<int>(4 - present);
  return true;
}

namespace {

// deflateInit's own settings, with the wrapping `windowBits` asks for.
// deflateInit: Z_OK or an error reported as "deflateInit". deflate with
// Z_FINISH: Z_STREAM_END when done, Z_OK or Z_BUF_ERROR when it needs more
// room (it gets another step while the last one filled up), Z_STREAM_ERROR a
// broken stream state.
CodecStatus deflateWrapped(const uint8_t* data, size_t size, ByteBuffer& output, int windowBits) {
  // zlib counts input in 32 bits; a serialised chunk stays far below that.
  if (size > UINT32_MAX) return {CodecStatus::failed, "deflate", Z_BUF_ERROR};
  z_stream stream{};
  int r = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  if (r != Z_OK) return {CodecStatus::failed, "deflateInit", r};
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  do {
    // Within what the caller reserved, if it did: growing would copy the output.
    const size_t at = output.size();
    const size_t step = output.capacity() > at ? std::min(kStep, output.capacity() - at) : kStep;
    output.resize(at + step);
    stream.next_out = output.data() + at;
    stream.avail_out = static_cast<uInt>(step);
    r = deflate(&stream, Z_FINISH);
    output.resize(at + step - stream.avail_out);
    if (r == Z_STREAM_ERROR) {
      deflateEnd(&stream);
      return {CodecStatus::streamError, "deflate", r};
    }
  } while (stream.avail_out == 0);
  deflateEnd(&stream);
  if (r != Z_STREAM_END) return {CodecStatus::failed, "deflateEnd", r};
  return {};
}

}  // namespace

namespace {

// Compressors made once and lent to one thread at a time: making one takes
// longer than compressing a small chunk. (Not one per thread, kept by the
// thread: MinGW's threads run the destructors of such objects after their
// memory is gone.)
class Compressors {
 public:
  ~Compressors() {
    for (libdeflate_compressor* c : free_) libdeflate_free_compressor(c);
  }
  libdeflate_compressor* take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        libdeflate_compressor* c = free_.back();
        free_.pop_back();
        return c;
      }
    }
    return libdeflate_alloc_compressor(6);
  }
  void give(libdeflate_compressor* c) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(c);
  }

 private:
  std::mutex mutex_;
  std::vector<libdeflate_compressor*> free_;
} compressors;

}  // namespace

// libdeflate at zlib's default level: a valid zlib stream, smaller than
// zlib's own as a rule, made in about half the time.
CodecStatus deflateChunk(const uint8_t* data, size_t size, ByteBuffer& output) {
  struct Lent {
    libdeflate_compressor* c = compressors.take();
    ~Lent() {
      if (c) compressors.give(c);
    }
  } compressor;
  if (!compressor.c) throw std::bad_alloc();
  // Into memory left as the system gives it, not zero-filled as a resized
  // buffer would be: of a bound as large as the chunk, only the pages the
  // stream takes are ever touched.
  const size_t bound = libdeflate_zlib_compress_bound(compressor.c, size);
  const std::unique_ptr<uint8_t, decltype(&std::free)> room(static_cast<uint8_t*>(std::malloc(bound)), &std::free);
  if (!room) throw std::bad_alloc();
  const size_t made = libdeflate_zlib_compress(compressor.c, data, size, room.get(), bound);
  if (made == 0) return {CodecStatus::failed, "deflate", Z_BUF_ERROR};
  output.insert(output.end(), room.get(), room.get() + made);
  return {};
}

CodecStatus gzip(const uint8_t* data, size_t size, ByteBuffer& output) {
  return deflateWrapped(data, size, output, 16 + MAX_WBITS);  // gzip's wrapping, not zlib's
}

CodecStatus compressAs(uint8_t compression, const uint8_t* data, size_t size, ByteBuffer& output) {
  switch (compression) {
    case kGzipCompression:
      return gzip(data, size, output);
    case kNoCompression:
      output.insert(output.end(), data, data + size);
      return {};
    case kLz4Compression:
      lz4Pack(data, size, output);
      return {};
    default:
      return deflateChunk(data, size, output);
  }
}

}  // namespace anvil
