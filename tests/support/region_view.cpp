#include "support/region_view.h"

#include "nbt/tree.h"
#include "nbt/writer.h"
#include "region/layout.h"

namespace testing_support {

using namespace region;

SlotEntry slotEntry(const ByteVec& file, int x, int z) {
  const int n = x + kRegionSide * z;
  if (file.size() < kHeaderSize) return {};
  const Location location = loadLocation(file.data(), n);
  return {location.sector, location.count, loadTimestamp(file.data(), n)};
}

ByteVec recordAt(const ByteVec& file, int x, int z) {
  const size_t offset = size_t{slotEntry(file, x, z).sector} * kSectorSize;
  if (offset == 0 || offset + kRecordHeaderSize > file.size()) return {};
  const size_t length = nbt::loadU32(file.data() + offset);
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
