// Makes the regions the whole-run benchmarks use.
//
//   region_tool generate OUT [CHUNKS]   a full region of generated 1.16-style chunks
//                                       (about 50 KB of NBT each, 50 MB in all)
//   region_tool generate-large OUT      16 chunks that each inflate to 64 MiB
//   region_tool add-book IN OUT         IN with a plain-text book added to the first
//                                       container found (or, where no chunk has one,
//                                       to a new chest), so that a run rewrites it
//   region_tool add-json-books IN OUT   IN with a book of 16 pages of JSON text (components,
//                                       none to repair) in every chunk that can take one
//   region_tool to-lz4 IN OUT           IN with every chunk stored LZ4-compressed, as
//                                       servers that choose LZ4 store them
//   region_tool world OUT FILES         a world of FILES regions of four small chunks
//                                       each (OUT/region/r.X.Z.mca, and OUT/level.dat)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include <zlib.h>

#include "chunk_builder.h"
#include "nbt/builder.h"
#include "app/chunk_loader.h"
#include "anvil/region_writer.h"
#include "app/console.h"
#include "app/rewrite.h"

using namespace nbt;

namespace {

// Books of JSON pages, which a check reads whole, in place of a plain page.
bool jsonBooks = false;

// A book's compound payload (its entries and the closing 0).
ByteBuffer plainBook() {
  ByteBuffer bytes;
  Builder b(bytes);
  b.beginList("", kTagCompound);  // as an element, the book has no name: only its payload is written
  b.beginCompound().stringTag("id", "minecraft:written_book").byteTag("Count", 1);
  b.beginCompound("tag").stringTag("title", "Benchmark").stringTag("author", "bench");
  b.beginList("pages", kTagString);
  if (!jsonBooks) b.stringTag("", "A plain page\nwith two lines");
  for (int i = 0; jsonBooks && i < 4; ++i) {
    b.stringTag("", "[\"\",{\"text\":\"Chapter " + std::to_string(i) +
                        "\",\"bold\":true},{\"text\":\"\\nIt was a dark and stormy night; the rain fell in "
                        "torrents, except at occasional intervals.\",\"color\":\"dark_gray\"}]");
    b.stringTag("", "{\"text\":\"A page of one component, as most books made by commands have them.\"}");
    b.stringTag("", "\"A page written as a JSON string, with \\\"quotes\\\" and a line\\nbreak.\"");
    b.stringTag("", "{\"translate\":\"book.pageIndicator\",\"with\":[\"1\",\"16\"],\"italic\":false}");
  }
  b.end();
  b.end().end().end();
  return ByteBuffer(bytes.begin() + 1 + 2 + 1 + 4, bytes.end());  // past the list's type, name, element type, count
}

// `data` with `element` (a payload of the list's element type) appended to a
// list whose element type becomes `elementType`.
ByteBuffer appendToList(const uint8_t* data, size_t size, Tag list, uint8_t elementType, const ByteBuffer& element) {
  const size_t at = static_cast<size_t>(list.payload() - data);
  const size_t end = at + list.payloadSize();
  ByteBuffer out(data, data + at);
  out.push_back(elementType);
  out.resize(out.size() + 4);
  storeU32(out.data() + out.size() - 4, list.count() + 1);
  out.insert(out.end(), data + at + 5, data + end);
  out.insert(out.end(), element.begin(), element.end());
  out.insert(out.end(), data + end, data + size);
  return out;
}

ByteBuffer chestWithBook() {
  ByteBuffer bytes;
  Builder b(bytes);
  b.beginList("", kTagCompound).beginCompound().stringTag("id", "minecraft:chest").intTag("x", 0).intTag("y", 64);
  b.intTag("z", 0).beginList("Items", kTagCompound).end().end().end();
  ByteBuffer chest(bytes.begin() + 8, bytes.end() - 1);  // the chest's entries, without its closing 0
  const ByteBuffer book = plainBook();
  chest.resize(chest.size() - 4);  // the Items list's count: one book follows
  chest.insert(chest.end(), {0, 0, 0, 1});
  chest.insert(chest.end(), book.begin(), book.end());
  chest.push_back(kTagEnd);
  return chest;
}

// The chunk with a book added, if it has somewhere to put one. With
// `anywhere`, a chunk without a container gets a chest, and a chunk without
// "Level" gets one holding that chest.
std::optional<ByteBuffer> withBook(const uint8_t* data, size_t size, Tree& tree, bool anywhere) {
  Tag root = tree.root();
  if (!root || root.type() != kTagCompound) return std::nullopt;
  Tag level = getCompound(root, "Level");
  Tag tiles = getList(level, "TileEntities");
  for (Tag tile = tiles && tiles.elementType() == kTagCompound ? tiles.firstChild() : Tag(); tile;
       tile = tile.nextSibling()) {
    Tag items = getList(tile, "Items");
    if (items && (items.elementType() == kTagCompound || items.count() == 0)) {
      return appendToList(data, size, items, kTagCompound, plainBook());
    }
  }
  if (!anywhere) return std::nullopt;
  if (tiles && (tiles.elementType() == kTagCompound || tiles.count() == 0)) {
    return appendToList(data, size, tiles, kTagCompound, chestWithBook());
  }
  if (level) return std::nullopt;
  // A "Level" at the front of the root, holding the chest.
  ByteBuffer out(data, data + 3);
  Builder b(out);
  b.beginCompound("Level").beginList("TileEntities", kTagCompound).end().end();
  out.pop_back();   // reopen Level: its list gets the chest
  out.resize(out.size() - 4);
  out.insert(out.end(), {0, 0, 0, 1});
  const ByteBuffer chest = chestWithBook();
  out.insert(out.end(), chest.begin(), chest.end());
  out.push_back(kTagEnd);
  out.insert(out.end(), data + 3, data + size);
  return out;
}

struct Silent : books::Findings {
  void add(books::Finding&&) override {}
};

bool copyForWriting(const char* in, const char* out);

// Calls visit(n, bytes, size) with each chunk of `file` whose tree loads (its
// root's serialised bytes, which the loader's tree reads), until visit says
// to stop; whether it did.
template <typename Visit>
bool eachChunk(anvil::RegionFile& file, app::ChunkLoader& loader, Visit visit) {
  Silent silent;
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    if (file.slots[n].offset == 0 || !loader.load(file, n, silent, app::ChunkLoader::Use::show).hasTree) continue;
    const Tag root = loader.tree().root();
    if (visit(n, root.payload() - 3, 3 + root.payloadSize())) return true;
  }
  return false;
}

int addBook(const char* in, const char* out) {
  // The book goes into a copy, rewritten in place as pagemend rewrites.
  anvil::RegionFile file;
  if (!copyForWriting(in, out) || !file.open(out)) return 1;
  app::ChunkLoader loader;
  anvil::MadeRecords records;
  for (bool anywhere : {false, true}) {
    const bool added = eachChunk(file, loader, [&](int n, const uint8_t* data, size_t size) {
      std::optional<ByteBuffer> chunk = withBook(data, size, loader.tree(), anywhere);
      if (!chunk) return false;
      anvil::makeRecord(chunk->data(), chunk->size(), records.records[n]);
      file.slots[n].rewritten = true;
      return true;
    });
    if (added) {
      app::StreamOutput lines(stdout);
      return app::writeRegionFile(out, file, records, lines);
    }
  }
  std::fprintf(stderr, "no chunk of %s can take a book\n", in);
  return 1;
}

// A plain page in every chunk that can take a book.
int addBooks(const char* in, const char* out) {
  anvil::RegionFile file;
  if (!copyForWriting(in, out) || !file.open(out)) return 1;
  app::ChunkLoader loader;
  anvil::MadeRecords records;
  int added = 0;
  eachChunk(file, loader, [&](int n, const uint8_t* data, size_t size) {
    std::optional<ByteBuffer> chunk = withBook(data, size, loader.tree(), false);
    if (!chunk) chunk = withBook(data, size, loader.tree(), true);
    if (!chunk) return false;
    anvil::makeRecord(chunk->data(), chunk->size(), records.records[n]);
    file.slots[n].rewritten = true;
    ++added;
    return false;
  });
  if (added == 0) {
    std::fprintf(stderr, "no chunk of %s can take a book\n", in);
    return 1;
  }
  app::StreamOutput lines(stdout);
  return app::writeRegionFile(out, file, records, lines);
}

// Copies `in` to `out` to be rewritten in place, as pagemend rewrites.
bool copyForWriting(const char* in, const char* out) {
  std::error_code error;
  if (!std::filesystem::copy_file(in, out, std::filesystem::copy_options::overwrite_existing, error)) {
    std::fprintf(stderr, "cannot copy %s to %s: %s\n", in, out, error.message().c_str());
    return false;
  }
  std::filesystem::permissions(out, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add, error);
  return true;
}

int toLz4(const char* in, const char* out) {
  anvil::RegionFile file;
  if (!copyForWriting(in, out) || !file.open(out)) return 1;
  app::ChunkLoader loader;
  anvil::MadeRecords records;
  eachChunk(file, loader, [&](int n, const uint8_t* data, size_t size) {
    anvil::makeRecord(data, size, records.records[n], anvil::kLz4Compression);
    file.slots[n].rewritten = true;
    return false;
  });
  app::StreamOutput lines(stdout);
  return app::writeRegionFile(out, file, records, lines);
}

int generateShaped(const char* out, int chunks, int sections, int containers) {
  anvil::MadeRecords records;
  anvil::RegionFile made;
  auto& slots = made.slots;
  bench_support::ChunkShape shape;
  shape.sections = sections;
  shape.containers = containers;
  for (int n = 0; n < chunks && n < anvil::kSlotCount; ++n) {
    const ByteBuffer chunk = bench_support::buildChunk(anvil::slotX(n), anvil::slotZ(n), shape);
    anvil::makeRecord(chunk.data(), chunk.size(), records.records[n]);
    slots[n].rewritten = true;
    slots[n].timestamp = 1600000000u + static_cast<uint32_t>(n);
  }
  app::StreamOutput lines(stdout);
  return app::writeRegionFile(out, made, records, lines);
}

// Like real 1.16 regions: sections' block states and light dominate, and
// only a few block entities per chunk hold items.
int generate(const char* out, int chunks) { return generateShaped(out, chunks, 6, 3); }

// A world of many small regions, as a server's world of mostly empty land:
// one region of four small chunks, copied under every name.
int world(const char* out, int files) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(out) / "region";
  fs::create_directories(folder);
  const std::string first = (folder / "r.0.0.mca").string();
  if (generateShaped(first.c_str(), 4, 1, 1) != 0) return 1;
  for (int i = 1; i < files; ++i) {
    fs::copy_file(first, folder / ("r." + std::to_string(i % 64) + "." + std::to_string(i / 64) + ".mca"),
                  fs::copy_options::overwrite_existing);
  }
  // level.dat as the game writes it: gzip-compressed NBT (a world's run reads it).
  ByteBuffer bytes;
  Builder b(bytes);
  b.beginCompound("").beginCompound("Data").intTag("DataVersion", 2586).stringTag("LevelName", "bench").end().end();
  gzFile level = gzopen((fs::path(out) / "level.dat").c_str(), "wb");
  if (!level || gzwrite(level, bytes.data(), static_cast<unsigned>(bytes.size())) != static_cast<int>(bytes.size())) return 1;
  return gzclose(level) == Z_OK ? 0 : 1;
}

// Chunks far larger than the game writes, to show that a run's memory
// follows the largest chunk and not the region: each holds a chest and a
// 64 MiB array (of a pattern, so that the file stays small).
int generateLarge(const char* out) {
  constexpr int kChunks = 16;
  std::vector<int8_t> padding(size_t{64} << 20);
  for (size_t i = 0; i < padding.size(); ++i) padding[i] = static_cast<int8_t>((i * 7) % 61);
  anvil::MadeRecords records;
  anvil::RegionFile made;
  auto& slots = made.slots;
  for (int n = 0; n < kChunks; ++n) {
    ByteBuffer chunk;
    Builder b(chunk);
    b.beginCompound("").intTag("DataVersion", 2586).beginCompound("Level");
    b.intTag("xPos", anvil::slotX(n)).intTag("zPos", anvil::slotZ(n)).byteArray("Padding", padding);
    b.beginList("TileEntities", kTagCompound).beginCompound().stringTag("id", "minecraft:chest");
    b.beginList("Items", kTagCompound).end().end().end().end().end();
    anvil::makeRecord(chunk.data(), chunk.size(), records.records[n]);
    slots[n].rewritten = true;
  }
  app::StreamOutput lines(stdout);
  return app::writeRegionFile(out, made, records, lines);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && !std::strcmp(argv[1], "generate")) return generate(argv[2], argc > 3 ? std::atoi(argv[3]) : 1024);
  if (argc >= 3 && !std::strcmp(argv[1], "generate-large")) return generateLarge(argv[2]);
  if (argc >= 4 && !std::strcmp(argv[1], "add-book")) return addBook(argv[2], argv[3]);
  if (argc >= 4 && !std::strcmp(argv[1], "add-books")) return addBooks(argv[2], argv[3]);
  if (argc >= 4 && !std::strcmp(argv[1], "add-json-books")) return jsonBooks = true, addBooks(argv[2], argv[3]);
  if (argc >= 4 && !std::strcmp(argv[1], "to-lz4")) return toLz4(argv[2], argv[3]);
  if (argc >= 4 && !std::strcmp(argv[1], "world")) return world(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr, "usage: %s generate OUT [CHUNKS] | generate-large OUT | add-book IN OUT | to-lz4 IN OUT | world OUT FILES\n",
               argv[0]);
  return 2;
}
