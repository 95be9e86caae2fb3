#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "nbt/byte_buffer.h"

struct libdeflate_decompressor;
struct z_stream_s;

namespace anvil {

// No chunk the game writes comes near this; a record that inflates past it is
// refused rather than allowed to take the machine's memory (a zlib "bomb").
constexpr size_t kMaxChunkBytes = size_t{256} << 20;

// What a codec call came to. A zlib failure names the zlib call and its
// result; a damaged LZ4 stream says what is wrong and in which block.
struct CodecStatus {
  enum Outcome { ok, failed, tooLarge, streamError, damaged };
  enum Damage { none, endsInBlock, noMagic, badHeader, damagedBlock, badChecksum };
  Outcome outcome = ok;
  const char* call = "";  // the zlib call that failed ("inflate"...)
  int code = 0;           // its result; of a damaged stream, the block, counted from 0
  Damage damage = none;
};

// Inflates zlib streams (as stored in region files), one after another, into
// a buffer it keeps. libdeflate does the work; whatever it does not accept
// goes to zlib's inflate, whose verdict and codes are the ones reported, so
// that a stream is judged the same whichever inflater read it. Bytes after
// the end of the stream are ignored; output past kMaxChunkBytes is refused.
// A stream cut short within its checksum is read as the game reads it: see
// checksumMissing().
class Inflater {
 public:
  // Output past `limit` is refused (the fuzzers ask for less than a chunk may hold).
  explicit Inflater(bool zlibOnly = false, size_t limit = kMaxChunkBytes);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  CodecStatus inflate(const uint8_t* data, size_t size);
  // The same for gzip (records of compression type 1, players' files): its
  // first member and every member that follows it, as Java's reader reads
  // them; `consumed`, if asked, is how many bytes they take (what follows is
  // not gzip). A stream cut short is not read.
  CodecStatus gunzip(const uint8_t* data, size_t size, size_t* consumed = nullptr);
  // The same for the LZ4 block stream of Java's LZ4BlockOutputStream
  // (records of compression type 4): every block's checksum is checked. A
  // stream that ends after a whole block, without its end mark, is read as
  // the game reads it (it stops once the chunk's tree is whole).
  CodecStatus unpackLz4(const uint8_t* data, size_t size);
  // The last inflated chunk (after a failure, possibly part of it).
  const uint8_t* data() const { return buffer_; }
  size_t size() const { return size_; }
  // Gives the buffer back, and with it the last chunk.
  void release();
  // How many bytes of the last stream's checksum were missing (0 to 4) when
  // its deflate data ended whole and the bytes of the checksum that were
  // there were right; checksum() then is the whole checksum, whose last
  // checksumMissing() bytes complete the stream.
  int checksumMissing() const { return checksumMissing_; }
  uint32_t checksum() const { return checksum_; }

 private:
  // A libdeflate_result.
  int inflateFast(const uint8_t* data, size_t size, size_t room);
  CodecStatus inflateWithZlib(const uint8_t* data, size_t size);
  CodecStatus drain(z_stream_s& stream, const uint8_t* data, size_t size, int& r);
  CodecStatus inflateStep(z_stream_s& stream, int& r);
  bool inflateWithoutChecksum(const uint8_t* data, size_t size);
  // Grows the buffer, keeping what it holds (nothing, between chunks).
  void reserve(size_t capacity);

  bool zlibOnly_;
  size_t limit_;
  libdeflate_decompressor* fast_;
  uint8_t* buffer_ = nullptr;  // not zero-filled: only pages the inflater writes are ever touched
  size_t capacity_ = 0;
  size_t size_ = 0;
  int checksumMissing_ = 0;
  uint32_t checksum_ = 0;
};

// Compresses bytes as one complete zlib stream at the default level,
// appending it to `output`.
CodecStatus deflateChunk(const uint8_t* data, size_t size, ByteBuffer& output);

// Bytes compressed as one gzip member at the default level, appended to `output`.
CodecStatus gzip(const uint8_t* data, size_t size, ByteBuffer& output);

// Bytes as Java's LZ4BlockOutputStream writes them (blocks of 64 KiB, each
// checksummed, and the end mark), appended to `output`.
void lz4Pack(const uint8_t* data, size_t size, ByteBuffer& output);

// Bytes compressed as a record of `compression` (gzip, zlib, none or LZ4)
// holds them, appended to `output`.
CodecStatus compressAs(uint8_t compression, const uint8_t* data, size_t size, ByteBuffer& output);

}  // namespace anvil
