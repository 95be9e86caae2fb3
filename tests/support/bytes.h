#pragma once

// Builds NBT and region bytes by hand, so tests can write wrong lengths, bad
// type ids and cut-off streams as easily as well-formed input.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class Bytes {
 public:
  Bytes& u8(unsigned v) {
    data_.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Bytes& u16(unsigned v) { return u8(v >> 8).u8(v); }
  Bytes& u32(uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Bytes& u64(uint64_t v) { return u32(static_cast<uint32_t>(v >> 32)).u32(static_cast<uint32_t>(v)); }
  Bytes& raw(std::string_view s) {
    data_.insert(data_.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& raw(const std::vector<uint8_t>& b) {
    data_.insert(data_.end(), b.begin(), b.end());
    return *this;
  }
  // A string payload or name: 16-bit length, then the bytes.
  Bytes& str(std::string_view s) { return u16(static_cast<unsigned>(s.size())).raw(s); }
  // A compound entry's head: type id and name; the payload follows.
  Bytes& named(unsigned type, std::string_view name) { return u8(type).str(name); }
  Bytes& end() { return u8(0); }

  // Convenience entries for compounds.
  Bytes& intEntry(std::string_view name, int32_t v) { return named(3, name).u32(static_cast<uint32_t>(v)); }
  Bytes& stringEntry(std::string_view name, std::string_view v) { return named(8, name).str(v); }
  Bytes& compoundEntry(std::string_view name) { return named(10, name); }
  // A list head: element type and count; the elements follow.
  Bytes& listEntry(std::string_view name, unsigned elementType, uint32_t count) {
    return named(9, name).u8(elementType).u32(count);
  }

  const std::vector<uint8_t>& data() const { return data_; }
  size_t size() const { return data_.size(); }
  operator const std::vector<uint8_t>&() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

}  // namespace testing_support
