// Writes the seed corpora of the fuzz targets into OUT/tag_reader,
// OUT/region_run and OUT/page_repair: small valid regions and chunks, books in
// every kind of place, and a few damaged records.
#include <cstring>
#include <filesystem>
#include <string>

#include "support/region_builder.h"
#include "support/run.h"

using namespace testing_support;

namespace {

ByteVec withType(uint8_t type, const ByteVec& payload) { return Bytes().u8(type).raw(payload).data(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string out = argv[1];
  for (const char* dir : {"tag_reader", "region_run", "page_repair", "inflate_agreement"}) {
    std::filesystem::create_directories(out + "/" + dir);
  }
  auto save = [&](const std::string& target, const std::string& name, const ByteVec& bytes) {
    writeFile(out + "/" + target + "/" + name, bytes);
  };

  const Bytes book = writtenBook("Diary", {"plain text", "{\"text\":\"json\"}", "line\nfeed \"quoted\" back\\slash"});
  const Bytes box = shulkerBox("minecraft:red_shulker_box", {book, shulkerBox("minecraft:shulker_box", {book})});
  const ByteVec everywhere = chunkWith({container("minecraft:chest", 1, 64, -3, {book, box, item("minecraft:stone")})},
                                       {itemFrame(5, 70, -8, book), itemFrame(0, 0, 0, box)});
  const ByteVec quiet = chunkWith({container("minecraft:barrel", 0, 0, 0, {item("minecraft:dirt")})});

  save("region_run", "books-everywhere", RegionBuilder().chunk(0, 0, everywhere).chunk(3, 1, quiet).build());
  save("region_run", "nothing-to-repair", RegionBuilder().chunk(31, 31, quiet).timestamp(31, 31, 7).build());
  ByteVec z = zlibCompress(quiet);
  save("region_run", "damaged-records",
       RegionBuilder()
           .chunk(0, 0, everywhere)
           .record(1, 0, rawRecord(static_cast<uint32_t>(z.size() + 1), 1, z))
           .record(2, 0, rawRecord(static_cast<uint32_t>(z.size()), 2, ByteVec(z.begin(), z.end() - 1)))
           .record(3, 0, rawRecord(0, 2, z))
           .chunk(4, 0, Bytes().u8(10).str("name").end().data())
           .location(5, 0, 3, 1)
           .build());

  save("tag_reader", "chunk", withType(10, ByteVec(everywhere.begin() + 3, everywhere.end())));
  save("tag_reader", "list-of-ends", withType(9, Bytes().u8(0).u32(3).data()));
  save("tag_reader", "arrays", withType(10, Bytes().named(7, "b").u32(2).u8(1).u8(2).named(11, "i").u32(1).u32(5)
                                             .named(12, "l").u32(1).u64(9).named(5, "f").u32(0x7F800001).end().data()));
  save("tag_reader", "string", withType(8, Bytes().str("hello").data()));

  // Streams of every kind of block: stored, fixed and dynamic Huffman codes.
  save("inflate_agreement", "chunk-default", zlibCompress(everywhere));
  save("inflate_agreement", "chunk-stored", zlibCompress(everywhere, 0));
  save("inflate_agreement", "chunk-fastest", zlibCompress(quiet, 1));
  save("inflate_agreement", "chunk-best", zlibCompress(ByteVec(70000, 7), 9));

  int n = 0;
  for (const char* page : {"plain text", "", "{\"text\":\"x\"}", "\"quoted\"", "a\\\"b", "one\ntwo", "[list]",
                           "tab\tcr\r", "caf\xC3\xA9"}) {
    save("page_repair", "page-" + std::to_string(n++), ByteVec(page, page + std::strlen(page)));
  }
  return 0;
}
