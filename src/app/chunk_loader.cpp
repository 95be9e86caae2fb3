#include "app/chunk_loader.h"

#include "anvil/region_writer.h"
#include "nbt/writer.h"
#include "app/messages.h"

namespace app {

ChunkLoader::Result ChunkLoader::load(anvil::RegionFile& file, int n, books::Findings& findings, Use use) {
  if (use != Use::show) {
    const Result result = read(file, n, findings, use);
    file.apply(n, result.slot);
    return result;
  }
  shown_ = true;
  const anvil::ChunkReader::Result read = reader_.read(file, n, nullptr, everywhere_);
  const int x = anvil::slotX(n), z = anvil::slotZ(n);
  reportRecord(read.record, x, z, findings);
  reportCodec(read.codec, x, z, findings);
  reportRoot(read.root, x, z, findings);
  Result result;
  result.hasTree = read.hasTree;
  result.fatal = read.codec.outcome == anvil::CodecStatus::streamError;
  result.whole = read.whole;
  result.read = read.root.read;
  return result;
}

ChunkLoader::Result ChunkLoader::read(const anvil::RegionFile& file, int n, books::Findings& findings, Use use) {
  const int x = anvil::slotX(n), z = anvil::slotZ(n);
  Result result;
  shown_ = false;
  const anvil::ChunkReader::Decoded decoded = reader_.decode(file, n);
  reportRecord(decoded.record, x, z, findings);
  reportCodec(decoded.codec, x, z, findings);
  result.fatal = decoded.codec.outcome == anvil::CodecStatus::streamError;
  result.slot = reader_.slot();
  if (!decoded.data) return result;

  // The findings of the chunk are said to be about its slot.
  struct Addressed : books::Findings {
    Addressed(books::Findings& to, int x, int z) : to(to), x(x), z(z) {}
    void add(books::Finding&& finding) override {
      finding.inChunk = true;
      finding.chunkX = x;
      finding.chunkZ = z;
      to.add(std::move(finding));
    }
    void bookExamined() override { to.bookExamined(); }
    books::Findings& to;
    int x, z;
  } addressed(findings, x, z);
  const repair::Options options{everywhere_, upgrade_};
  // A check makes what it needs of the record only once it knows the bound.
  repair::Outcome outcome = repair_.chunk(decoded.data, decoded.size, options, addressed, nullptr);
  reportRoot(outcome.root, x, z, findings);
  result.hasTree = outcome.hasTree;
  result.whole = outcome.walked;
  result.read = outcome.root.read;
  result.dataVersion = outcome.dataVersion;
  if (!outcome.walked) return result;
  reader_.settle();
  result.slot = reader_.slot();
  result.repaired = outcome.repaired;
  result.encodedBound = outcome.encodedBound;
  if (!outcome.repaired) return result;
  result.digest = reader_.digest();
  // A check makes only the record of a chunk that may need more sectors than
  // a location entry counts, as the rewrite would make it: its size says
  // what a rewrite does.
  if (use == Use::check && anvil::sectorsFor(anvil::recordBound(outcome.encodedBound)) <= anvil::kMaxSectorCount) {
    return result;
  }
  // A chunk far larger than the game writes is made by the rewrite, one at
  // a time, once the scan's threads have given their buffers back: made
  // here, its tree written beside every thread's inflated chunk would pass
  // the memory a run keeps to.
  if (use == Use::rewrite && outcome.encodedBound > kLargestMadeInScan) return result;
  outcome.keptTooDeep = !repair_.serialise(serialised_);
  if (outcome.keptTooDeep) {
    result.kept = books::Subject::keptTooDeep;
    return result;
  }
  // A chunk in its own file goes back there as the region's stub says it is stored.
  record_.clear();
  result.compressed = anvil::makeRecord(serialised_.data(), serialised_.size(), record_,
                                        result.slot.external ? result.slot.compression : anvil::kZlibCompression);
  if (result.compressed.outcome != anvil::CodecStatus::ok) {
    result.kept = books::Subject::keptUncompressed;
    return result;
  }
  result.made = true;
  return result;
}

}  // namespace app
