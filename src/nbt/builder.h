#pragma once

// Writes NBT bytes from code, for the programs that make regions (the
// example, benchmarks, tests): tags go straight into the encoding, and a
// list's count is filled in when it ends.
//
//   Builder b(bytes);
//   b.beginCompound("").intTag("DataVersion", 2586).beginList("Items", kTagCompound);
//   ...
//   b.end().end();

#include <cstdint>
#include <string_view>
#include <vector>

#include "nbt/byte_buffer.h"
#include "nbt/tree.h"

namespace nbt {

class Builder {
 public:
  explicit Builder(ByteBuffer& out) : out_(out) {}

  // At the top or inside a compound, `name` names the tag; inside a list it is ignored.
  Builder& byteTag(std::string_view name, int8_t v);
  Builder& intTag(std::string_view name, int32_t v);
  Builder& longTag(std::string_view name, int64_t v);
  Builder& stringTag(std::string_view name, std::string_view v);
  Builder& byteArray(std::string_view name, const std::vector<int8_t>& v);
  Builder& intArray(std::string_view name, const std::vector<int32_t>& v);
  Builder& longArray(std::string_view name, const std::vector<int64_t>& v);
  Builder& beginCompound(std::string_view name = {});
  Builder& beginList(std::string_view name, uint8_t elementType);
  // Closes the innermost open compound or list.
  Builder& end();

 private:
  void head(uint8_t type, std::string_view name);
  void u32(uint32_t v);

  struct Open {
    bool isList;
    size_t countAt;  // where a list's count goes
    uint32_t count;
  };
  ByteBuffer& out_;
  std::vector<Open> open_;
};

}  // namespace nbt
