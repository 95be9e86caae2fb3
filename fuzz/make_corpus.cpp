// Writes the seed corpora of the fuzz targets into OUT/<target>: every
// region of the test cases (tests/cases) for the whole run, each of their
// chunks for the tag reader, and each of their records' zlib streams for the
// inflaters.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <zlib.h>

#include "anvil/layout.h"
#include "support/run.h"

namespace fs = std::filesystem;
using namespace testing_support;

// Longer inputs are cut by the fuzzers anyway, and slow them down.
constexpr std::size_t kLargestSeed = 1 << 20;

// Inflates as much of a zlib stream as there is, stopping past kLargestSeed
// (a bomb is no seed); false when it went past.
bool inflateWithin(const ByteVec& stream, ByteVec& out) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return true;
  zs.next_in = const_cast<Bytef*>(stream.data());
  zs.avail_in = static_cast<uInt>(stream.size());
  out.assign(kLargestSeed + 1, 0);
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  inflate(&zs, Z_FINISH);
  out.resize(out.size() - zs.avail_out);
  inflateEnd(&zs);
  return out.size() <= kLargestSeed;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string out = argv[1];
  for (const char* target : {"tag_reader", "region_run", "page_repair", "inflate_agreement"}) {
    fs::create_directories(out + "/" + target);
  }
  for (auto& entry : fs::directory_iterator(fs::path(PAGEMEND_SOURCE_DIR) / "tests" / "cases")) {
    ByteVec region;
    if (fs::exists(entry.path() / "input.mca")) region = readFile(entry.path() / "input.mca");
    if (fs::exists(entry.path() / "region.txt")) {
      std::ifstream in(entry.path() / "region.txt");
      std::stringstream text;
      text << in.rdbuf();
      try {
        region = regionFromText(text.str(), region);
      } catch (const std::exception&) {
        continue;  // it builds on a region of ../shared/regions, which the fuzzers get whole
      }
    }
    if (region.empty() || region.size() > 4 << 20) continue;  // seeds stay small
    const std::string name = entry.path().filename();
    std::set<ByteVec> seen;  // slots that share a record give one seed, not hundreds
    bool small = true;       // a region whose chunks all inflate small runs quickly enough to fuzz
    for (int n = 0; n < anvil::kSlotCount; ++n) {
      const ByteVec record = recordAt(region, n);
      if (record.size() <= anvil::kRecordHeaderSize || !seen.insert(record).second) continue;
      const ByteVec stream(record.begin() + anvil::kRecordHeaderSize, record.end());
      writeFile(out + "/inflate_agreement/" + name + "-" + std::to_string(n), stream);
      ByteVec chunk;
      if (!inflateWithin(stream, chunk)) {
        small = false;
        continue;
      }
      if (chunk.size() < 3) continue;
      chunk.erase(chunk.begin() + 1, chunk.begin() + 3);  // the type id, then the payload
      writeFile(out + "/tag_reader/" + name + "-" + std::to_string(n), chunk);
    }
    if (small) writeFile(out + "/region_run/" + name, region);
  }
  return 0;
}
