#pragma once

#include <cstddef>
#include <cstdint>

#include "nbt/big_endian.h"

namespace nbt {

// The next unread byte of a decompressed chunk, and where that chunk ends.
// Every read of untrusted bytes goes through here: a read that does not fit
// in what remains fails and consumes nothing.
class ByteCursor {
 public:
  ByteCursor(const uint8_t* begin, const uint8_t* end) : pos_(begin), begin_(begin), end_(end) {}
  ByteCursor(const uint8_t* data, size_t size) : ByteCursor(data, data + size) {}

  const uint8_t* begin() const { return begin_; }
  const uint8_t* position() const { return pos_; }
  size_t consumed() const { return static_cast<size_t>(pos_ - begin_); }
  size_t remaining() const { return static_cast<size_t>(end_ - pos_); }

  // Hands out the next n bytes and advances past them, or null when fewer remain.
  const uint8_t* take(size_t n) {
    if (remaining() < n) return nullptr;
    const uint8_t* p = pos_;
    pos_ += n;
    return p;
  }

  bool readU8(uint8_t& out) {
    const uint8_t* p = take(1);
    if (!p) return false;
    out = *p;
    return true;
  }
  bool readU16(uint16_t& out) {
    const uint8_t* p = take(2);
    if (!p) return false;
    out = loadU16(p);
    return true;
  }
  bool readU32(uint32_t& out) {
    const uint8_t* p = take(4);
    if (!p) return false;
    out = loadU32(p);
    return true;
  }

 private:
  const uint8_t* pos_;
  const uint8_t* begin_;
  const uint8_t* end_;
};

}  // namespace nbt
