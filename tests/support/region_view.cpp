#include "support/region_view.h"

#include "nbt/tree.h"
#include "nbt/writer.h"

namespace testing_support {

namespace {
uint32_t u32(const ByteVec& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}
}  // namespace

SlotEntry slotEntry(const ByteVec& file, int x, int z) {
  size_t n = static_cast<size_t>(x + 32 * z);
  if (file.size() < 8192) return {};
  return {u32(file, 4 * n) >> 8, file[4 * n + 3], u32(file, 4096 + 4 * n)};
}

ByteVec recordAt(const ByteVec& file, int x, int z) {
  size_t offset = size_t{slotEntry(file, x, z).sector} * 4096;
  if (offset == 0 || offset + 5 > file.size()) return {};
  size_t length = u32(file, offset);
  if (length > file.size() - offset - 4) return {};
  return ByteVec(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + 4 + length));
}

ByteVec chunkAt(const ByteVec& file, int x, int z) {
  ByteVec record = recordAt(file, x, z);
  if (record.size() < 5 || record[4] != 2) return {};
  return zlibInflate(ByteVec(record.begin() + 5, record.end()));
}

ByteVec canonical(const ByteVec& chunk) {
  if (chunk.size() < 3 || chunk[1] != 0 || chunk[2] != 0) return {};
  nbt::Tree tree;
  nbt::ByteCursor cursor(chunk.data() + 3, chunk.size() - 3);
  if (tree.read(chunk[0], cursor) != nbt::Tree::Read::ok) return {};
  ByteVec out;
  nbt::writeNamedTag("", tree.root(), out);
  return out;
}

}  // namespace testing_support
