#include "app/chunk_loader.h"

#include "app/messages.h"
#include "books/places.h"

namespace app {

ChunkLoader::Result ChunkLoader::load(anvil::RegionFile& file, int n, books::Report& report, Use use) {
  const int x = anvil::slotX(n), z = anvil::slotZ(n);
  const nbt::IndexScope scope = use != Use::findBooks ? nullptr : books::scopeOfWalk(everywhere_);
  const anvil::ChunkReader::Result read = reader_.read(file, n, scope, everywhere_);
  reportRecord(read.record, x, z, report);
  reportCodec(read.codec, x, z, report);
  reportRoot(read.root, x, z, report);
  Result result;
  result.hasTree = read.hasTree;
  result.fatal = read.codec.outcome == anvil::CodecStatus::streamError;
  result.whole = read.whole;
  result.newerLayout = read.newerLayout;
  result.read = read.root.read;
  if (!read.whole || use == Use::show) return result;
  books::Inspection inspection(report, tree().root(), everywhere_);
  result.repaired = books::walkLevel(read.level, inspection);
  if (result.repaired) result.encodedBound = 3 + tree().root().payloadSize() + tree().growth();
  return result;
}

}  // namespace app
