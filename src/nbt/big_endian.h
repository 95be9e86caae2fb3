#pragma once

// Every multi-byte number in region files and in the NBT encoding is
// big-endian; these are the only places that assemble or split one.

#include <cstdint>

namespace nbt {

inline uint16_t loadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t loadU32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline uint64_t loadU64(const uint8_t* p) { return (uint64_t{loadU32(p)} << 32) | loadU32(p + 4); }

inline void storeU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void storeU32(uint8_t* p, uint32_t v) {
  storeU16(p, static_cast<uint16_t>(v >> 16));
  storeU16(p + 2, static_cast<uint16_t>(v));
}
inline void storeU64(uint8_t* p, uint64_t v) {
  storeU32(p, static_cast<uint32_t>(v >> 32));
  storeU32(p + 4, static_cast<uint32_t>(v));
}

}  // namespace nbt
