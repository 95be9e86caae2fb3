#include "checks.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "books/book_repair.h"
#include "books/json.h"
#include "books/text_component.h"
#include "nbt/big_endian.h"
#include "nbt/builder.h"
#include "nbt/printer.h"
#include "nbt/writer.h"
#include "app/messages.h"
#include "app/chunk_loader.h"
#include "app/run.h"

namespace fuzz_checks {

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

void require(bool ok, const char* what) {
  if (!ok) fail(what);
}

using Bytes = std::vector<uint8_t>;

Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Silent : books::Findings {
  void add(books::Finding&&) override {}
};

std::string printed(nbt::Tag tag) {
  std::FILE* out = std::tmpfile();  // (open_memstream is POSIX's alone)
  if (!out) return "";
  nbt::printTag(tag, 0, true, out);
  std::rewind(out);
  std::string result;
  char piece[4096];
  for (size_t n; (n = std::fread(piece, 1, sizeof piece, out)) > 0;) result.append(piece, n);
  std::fclose(out);
  return result;
}

// What zlib alone makes of a stream: its bytes, and its own words for why it
// refuses the stream (empty when it does not).
std::string zlibReason(const uint8_t* data, size_t size, std::vector<uint8_t>* bytes = nullptr) {
  z_stream stream{};
  inflateInit(&stream);
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  std::vector<uint8_t> out(1 << 20);
  int r;
  do {
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    r = inflate(&stream, Z_NO_FLUSH);
    if (bytes) bytes->insert(bytes->end(), out.data(), stream.next_out);
  } while (r == Z_OK && (stream.avail_out == 0 || bytes));
  std::string reason = r == Z_STREAM_END ? "" : stream.msg ? stream.msg : "stopped short";
  inflateEnd(&stream);
  return reason;
}

// What a region holds, slot by slot, read and repaired the way a run does.
struct Loaded {
  struct Chunk {
    // The bytes a rewrite carries for the slot; slots that share a record share them.
    std::shared_ptr<Bytes> stored = std::make_shared<Bytes>();
    bool repaired = false;  // written afresh: a page was repaired, and the repaired tree reads back
    bool kept = false;      // a page was repaired, but the repaired tree would not read back: carried as stored
    Bytes repairedTree;     // the repaired chunk as the tag writer writes it
  };
  std::vector<Chunk> chunks = std::vector<Chunk>(anvil::kSlotCount);
  bool anyRepaired = false;
};

Loaded load(const std::string& path, const Bytes& bytes, bool everywhere) {
  Loaded loaded;
  anvil::RegionFile file;
  require(static_cast<bool>(file.open(path.c_str())), "cannot open the scratch region");
  file.readExternal = everywhere;
  app::ChunkLoader loader(false, everywhere);
  Silent silent;
  std::map<std::pair<int64_t, int64_t>, std::shared_ptr<Bytes>> byPlace;
  std::map<int64_t, std::pair<int, app::ChunkLoader::Result>> firstAt;  // slots that share a record load it once, as a run does
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    if (file.slots[n].offset == 0) continue;
    Loaded::Chunk& chunk = loaded.chunks[n];
    const auto first = firstAt.find(file.slots[n].offset);
    if (first != firstAt.end() && !file.slots[first->second.first].external) {
      const anvil::Slot& was = file.slots[first->second.first];
      if (first->second.second.whole) {
        file.slots[n].extent = was.extent;
        file.slots[n].checksumMissing = was.checksumMissing;
        file.slots[n].checksum = was.checksum;
      }
    } else {
      const app::ChunkLoader::Result result = loader.load(file, n, silent, app::ChunkLoader::Use::rewrite);
      firstAt.emplace(file.slots[n].offset, std::make_pair(n, result));
      chunk.repaired = result.repaired;
    }
    if (const int64_t extent = file.extent(n); extent > 0) {
      const int64_t offset = file.slots[n].offset;
      std::shared_ptr<Bytes>& same = byPlace[{offset, extent}];
      if (same) {
        chunk.stored = same;
      } else {
        same = chunk.stored;
        Bytes& stored = *chunk.stored;
        stored.assign(bytes.begin() + offset, bytes.begin() + offset + extent);
        const int missing = file.slots[n].checksumMissing;
        if (missing > 0 && anvil::sectorsFor(extent + missing) <= anvil::kMaxSectorCount) {
          // Stored short of its checksum: carried whole (if an entry can count its
          // sectors then), a zlib stream zlib reads.
          const uint32_t checksum = file.slots[n].checksum;
          for (int i = 4 - missing; i < 4; ++i) stored.push_back(static_cast<uint8_t>(checksum >> (24 - 8 * i)));
          nbt::storeU32(stored.data(), static_cast<uint32_t>(stored.size() - 4));
          require(zlibReason(stored.data() + anvil::kRecordHeaderSize, stored.size() - anvil::kRecordHeaderSize).empty(),
                  "a stream completed with its checksum does not inflate");
        }
      }
    }
    if (first != firstAt.end() && !file.slots[first->second.first].external) {
      const Loaded::Chunk& shared = loaded.chunks[first->second.first];
      chunk.repaired = shared.repaired;
      chunk.kept = shared.kept;
      chunk.repairedTree = shared.repairedTree;
      loaded.anyRepaired |= chunk.repaired || chunk.kept;
      continue;
    }
    loaded.anyRepaired |= chunk.repaired;
    if (!chunk.repaired) continue;
    nbt::writeNamedTag("", loader.tree().root(), chunk.repairedTree);
    nbt::Tree again;
    nbt::ByteCursor cursor(chunk.repairedTree.data() + 3, chunk.repairedTree.size() - 3);
    chunk.kept = again.read(chunk.repairedTree[0], cursor) != nbt::Tree::Read::ok;
    chunk.repaired = !chunk.kept;
  }
  return loaded;
}

// The strict reading of a JSON string literal, but for control bytes other
// than the line feed, which the game's reader takes as they are. A line feed
// must come escaped: that is what the repair promises.
bool decodeJsonString(const std::string& literal, std::string& out) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return false;
  out.clear();
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    char c = literal[i];
    if (c == '"' || c == '\n') return false;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 2 >= literal.size()) return false;  // a backslash right before the closing quote
    switch (literal[++i]) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      default: return false;
    }
  }
  return true;
}

}  // namespace

std::string tagReaderRoundTrip(const uint8_t* data, size_t size) {
  if (size == 0) return "rejected";
  nbt::Tree first;
  nbt::ByteCursor cursor(data + 1, size - 1);
  if (first.read(data[0], cursor) != nbt::Tree::Read::ok) return "rejected";
  Bytes written;
  nbt::writeTag(first.root(), written);
  nbt::Tree second;
  nbt::ByteCursor again(written.data(), written.size());
  require(second.read(data[0], again) == nbt::Tree::Read::ok, "written bytes do not read back");
  require(again.remaining() == 0, "written bytes read back shorter");
  Bytes rewritten;
  nbt::writeTag(second.root(), rewritten);
  require(rewritten == written, "read, write, read, write gives other bytes");
  require(printed(first.root()) == printed(second.root()), "a tree and its written form print differently");
  return "reads " + std::to_string(cursor.consumed()) + ", writes " + std::to_string(written.size());
}

void wholeRun(const uint8_t* data, size_t size, const std::string& scratchDir, bool everywhere) {
  Bytes input(data, data + size);
  if (input.size() < static_cast<size_t>(anvil::kHeaderSize)) input.resize(anvil::kHeaderSize, 0);
  const std::string path = scratchDir + "/r.0.0.mca";
  writeBytes(path, input);
  const Loaded before = load(path, input, everywhere);

  std::fflush(stdout);
  std::string binary = "pagemend";
  std::string option = "--everywhere";
  char* argv[] = {binary.data(), const_cast<char*>(path.c_str()), everywhere ? option.data() : nullptr, nullptr};
  const int code = app::runPagemend(everywhere ? 3 : 2, argv);
  std::fflush(stdout);
  const Bytes output = readBytes(path);
  require(code == 0 || code == 1, "exit code other than 0 or 1");
  if (code != 0 || !before.anyRepaired) {
    require(output == input, "the file changed although nothing was written");
    return;
  }
  const Loaded after = load(path, output, everywhere);
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    require(!(after.chunks[n].repaired || after.chunks[n].kept) || before.chunks[n].kept,
            "a rewritten region still has something to repair");
  }
  anvil::RegionFile file;
  require(static_cast<bool>(file.open(path.c_str())), "cannot open the rewritten region");
  file.readExternal = everywhere;
  app::ChunkLoader loader(false, everywhere);
  Silent silent;
  for (int n = 0; n < anvil::kSlotCount; ++n) {
    const Loaded::Chunk& was = before.chunks[n];
    if (was.stored->empty() && !was.repaired) {
      require(file.slots[n].offset == 0, "a slot that held nothing holds something");
      continue;
    }
    require(file.slots[n].offset != 0, "a stored chunk was lost");
    if (was.repaired) {
      require(loader.load(file, n, silent, app::ChunkLoader::Use::show).hasTree, "a repaired chunk does not load");
      Bytes now;
      nbt::writeNamedTag("", loader.tree().root(), now);
      require(now == was.repairedTree, "a rewritten chunk does not read back as its repaired tree");
      continue;
    }
    const int64_t at = file.slots[n].offset;
    require(at + static_cast<int64_t>(was.stored->size()) <= static_cast<int64_t>(output.size()) &&
                std::equal(was.stored->begin(), was.stored->end(), output.begin() + at),
            "a chunk that was not repaired was not carried as it was");
  }
}

namespace {

// A value as JSON again: what it was read from, but for white space and escapes.
void writeJson(const books::json::Value& v, std::string& out) {
  using books::json::Value;
  auto quoted = [&](const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else {
        out += static_cast<char>(c);
      }
    }
    out += '"';
  };
  switch (v.kind) {
    case Value::null: out += "null"; return;
    case Value::boolean: out += v.truth ? "true" : "false"; return;
    case Value::number: out += v.text; return;
    case Value::string: quoted(v.text); return;
    case Value::array:
    case Value::object:
      out += v.kind == Value::array ? '[' : '{';
      for (size_t i = 0; i < v.elements.size(); ++i) {
        if (i) out += ',';
        if (v.kind == Value::object) {
          quoted(v.names[i]);
          out += ':';
        }
        writeJson(v.elements[i], out);
      }
      out += v.kind == Value::array ? ']' : '}';
  }
}

bool sameJson(const books::json::Value& a, const books::json::Value& b) {
  if (a.kind != b.kind || a.truth != b.truth || a.text != b.text || a.names != b.names ||
      a.elements.size() != b.elements.size()) {
    return false;
  }
  for (size_t i = 0; i < a.elements.size(); ++i) {
    if (!sameJson(a.elements[i], b.elements[i])) return false;
  }
  return true;
}

// How the page reads as JSON, the same whether or not its value is kept;
// a value kept reads back the same once written again.
books::json::Verdict checkJson(const std::string& page, books::json::Value::Kind& kind) {
  using namespace books::json;
  Value value;
  Value::Kind kept = Value::null;
  kind = Value::null;
  const Verdict judged = parse(page, nullptr, &kind);
  const Verdict read = parse(page, &value, &kept);
  require(judged == read || (judged == Verdict::json && read == Verdict::tooDeep), "judging and reading JSON disagree");
  require(judged == Verdict::notJson || kind == kept, "judging and reading JSON see another value");
  if (read == Verdict::json) {
    std::string again;
    writeJson(value, again);
    Value reread;
    require(parse(again, &reread) == Verdict::json && sameJson(value, reread), "JSON does not read back as written");
  }
  return judged;
}

enum class Layout { old, components, textComponents };

// A book of the one page in that layout, checked as a run checks it: what
// the page became (its tag's type and, of a string, its text) and whether it changed.
struct Checked {
  bool changed = false;
  uint8_t type = 0;
  std::string text;
};

Checked checkBook(const std::string& page, Layout layout) {
  Bytes bytes;
  nbt::Builder b(bytes);
  b.beginCompound("");
  if (layout == Layout::old) {
    b.beginCompound("tag").stringTag("title", "T");
  } else {
    b.beginCompound("components").beginCompound("minecraft:written_book_content");
    b.beginCompound("title").stringTag("raw", "T").end();
  }
  b.beginList("pages", nbt::kTagString).stringTag("", page).end().end();
  if (layout != Layout::old) b.end();
  b.end();
  nbt::Tree tree;
  nbt::ByteCursor cursor(bytes.data() + 3, bytes.size() - 3);
  require(tree.read(nbt::kTagCompound, cursor) == nbt::Tree::Read::ok, "the book does not read");
  Silent silent;
  books::Inspection in(silent, layout == Layout::textComponents ? 4300 : layout == Layout::components ? 3839 : 1343);
  Checked out;
  out.changed = books::checkWrittenBook(tree.root(), books::Spot(), in);
  Bytes written;
  nbt::writeTag(tree.root(), written);
  nbt::Tree again;
  nbt::ByteCursor writtenCursor(written.data(), written.size());
  require(again.read(nbt::kTagCompound, writtenCursor) == nbt::Tree::Read::ok && writtenCursor.remaining() == 0,
          "a checked book does not read back");
  nbt::Tag content = layout == Layout::old
                         ? nbt::getCompound(again.root(), "tag")
                         : nbt::getCompound(nbt::getCompound(again.root(), "components"), "minecraft:written_book_content");
  nbt::Tag pages = nbt::getList(content, "pages");
  require(pages.count() == 1, "a checked book does not hold its one page");
  out.type = pages.elementType();
  out.text = pages.firstChild().stringValue();
  return out;
}

// A page the layout's check left as JSON stays as it was; any other is
// stored as a JSON string literal that decodes to exactly the original
// text, or left as it was when that literal would be too long.
std::string judgeQuoted(const std::string& page, const Checked& checked, bool isJson) {
  require(checked.type == nbt::kTagString, "a page of JSON text became another tag");
  if (isJson || !checked.changed) {
    require(checked.text == page, "a page that was not repaired changed");
    size_t escapes = 0;
    for (char c : page) escapes += c == '\\' || c == '"' || c == '\n';
    require(isJson || page.size() + escapes + 2 > nbt::kMaxStringBytes, "a plain page was not repaired");
    return "left as it was";
  }
  require(checked.text.size() <= nbt::kMaxStringBytes, "a repaired page is too long to store");
  std::string decoded;
  require(decodeJsonString(checked.text, decoded), "a repaired page is not a JSON string literal");
  require(decoded == page, "a repaired page does not decode to the original text");
  return "stored as " + checked.text;
}

}  // namespace

std::string pageRepair(const uint8_t* data, size_t size) {
  using books::json::Value;
  const std::string page(reinterpret_cast<const char*>(data), size);
  if (page.size() > nbt::kMaxStringBytes) return "no page can hold it";
  Value::Kind kind, lenientKind = Value::null;
  const bool json = checkJson(page, kind) != books::json::Verdict::notJson;
  // Whatever is JSON strictly is JSON leniently, of the same kind.
  Value lenientValue;
  const books::json::Verdict read = books::json::parse(page, &lenientValue, &lenientKind, books::json::Mode::lenient);
  require(!json || (read != books::json::Verdict::notJson && lenientKind == kind),
          "strict JSON is not lenient JSON of its kind");
  // Whether the game of that version drops the page: not read, null, or refused by its codec.
  auto dropped = [&](int version) {
    if (read == books::json::Verdict::notJson || lenientKind == Value::null) return true;
    return read == books::json::Verdict::json &&
           books::judgeComponent(lenientValue, version) == books::Acceptance::refused;
  };
  // Up to 1.20.4, JSON by its first character, or when the game shows it as a component.
  const bool shown = !dropped(1343) && (lenientKind == Value::object || lenientKind == Value::array ||
                                        (lenientKind == Value::string && lenientValue.text != page));
  const bool oldJson = (!page.empty() && (page[0] == '{' || page[0] == '"')) || shown;
  const std::string old = judgeQuoted(page, checkBook(page, Layout::old), oldJson);
  // 1.20.5 to 1.21.4: repaired exactly when the game drops it.
  const std::string components = judgeQuoted(page, checkBook(page, Layout::components), !dropped(3839));
  // From 1.21.5: never quoted; only JSON of an object or an array may become a component.
  const Checked component = checkBook(page, Layout::textComponents);
  std::string textComponents = "left as it was";
  if (component.changed) {
    require(json && (kind == Value::object || kind == Value::array), "a page that is no JSON component was changed");
    require(component.type == nbt::kTagCompound || component.type == nbt::kTagList, "a component is neither compound nor list");
    textComponents = component.type == nbt::kTagCompound ? "becomes a compound" : "becomes a list";
  } else {
    require(component.type == nbt::kTagString && component.text == page, "a page left as it was changed");
  }
  return old + "; from 1.20.5: " + (components == old ? std::string("the same") : components) + "; from 1.21.5: " +
         textComponents;
}

std::string inflatersAgree(const uint8_t* data, size_t size) {
  // Bounded far below a chunk's bound: a bomb is refused as surely, and a
  // seed of one takes no more than a moment on a busy machine.
  constexpr size_t kLimit = size_t{16} << 20;
  anvil::Inflater fast(false, kLimit), zlib(/*zlibOnly=*/true, kLimit);
  const anvil::CodecStatus a = fast.inflate(data, size), b = zlib.inflate(data, size);
  // Accepted: libdeflate reads whole, its checksum matching, a stream that
  // zlib refuses for how it is encoded (code lengths beyond the format's
  // counts, a repeat past the last length, a fixed code's unused symbols),
  // none of which a compressor writes. The bytes are the ones the checksum
  // was made of; zlib's reason is the verdict.
  if (a.outcome == anvil::CodecStatus::ok && b.outcome == anvil::CodecStatus::failed) {
    return "libdeflate reads it, zlib refuses it: " + zlibReason(data, size);
  }
  require(a.outcome == b.outcome && a.code == b.code && std::string(a.call) == b.call,
          "the inflaters come to different verdicts");
  require(a.outcome != anvil::CodecStatus::ok ||
              (fast.size() == zlib.size() && std::equal(fast.data(), fast.data() + fast.size(), zlib.data())),
          "the inflaters give different bytes");
  if (a.outcome == anvil::CodecStatus::ok && fast.checksumMissing() > 0) {
    // Read as the game reads it: with the bytes it lacks, a whole stream of these bytes.
    require(zlib.checksumMissing() == fast.checksumMissing() && zlib.checksum() == fast.checksum(),
            "the inflaters complete the checksum differently");
    std::vector<uint8_t> whole(data, data + size), bytes;
    for (int i = 4 - fast.checksumMissing(); i < 4; ++i) whole.push_back(static_cast<uint8_t>(fast.checksum() >> (24 - 8 * i)));
    require(zlibReason(whole.data(), whole.size(), &bytes).empty() && bytes.size() == fast.size() &&
                std::equal(bytes.begin(), bytes.end(), fast.data()),
            "a stream read short of its checksum is not whole once completed");
    return "inflates to " + std::to_string(fast.size()) + " bytes, " + std::to_string(fast.checksumMissing()) +
           " of its checksum's bytes missing";
  }
  if (a.outcome == anvil::CodecStatus::ok) return "inflates to " + std::to_string(fast.size()) + " bytes";
  if (a.outcome == anvil::CodecStatus::tooLarge) return "too large";
  const std::string line = app::codecLine(a);
  return line.substr(0, line.size() - 1);
}

}  // namespace fuzz_checks
