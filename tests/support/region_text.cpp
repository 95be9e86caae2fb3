#include "support/region_text.h"

#include <lz4.h>
#include <xxhash.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>

#include "nbt/tree.h"
#include "anvil/layout.h"

namespace testing_support {

namespace {

// Constant, not dynamic, so that text may be read while statics are being set up.
const char* const kTypes[] = {"end",   "byte",   "short", "int",      "long", "float", "double",
                              "bytes", "string", "list",  "compound", "ints", "longs"};
const int kSizes[] = {0, 1, 2, 4, 8, 4, 8, 1, 0, 0, 0, 4, 8};  // of a number, or an array's element

void put(ByteVec& out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void append(ByteVec& out, const ByteVec& b) { out.insert(out.end(), b.begin(), b.end()); }
void append(ByteVec& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }
void string(ByteVec& out, const std::string& s) {
  put(out, s.size(), 2);
  append(out, s);
}
// A record: its length field (one short when `short`), compression type, data.
void record(ByteVec& out, uint8_t type, const ByteVec& data, bool short_ = false) {
  put(out, data.size() + (short_ ? 0 : 1), 4);
  out.push_back(type);
  append(out, data);
}

class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool atEnd() {
    skipSpace();
    return at_ >= text_.size();
  }

  // A word, a quoted string (unquoted, escapes \n \t \r \0 \xHH), or one of ( ) { } [ ].
  std::string next() {
    skipSpace();
    quoted_ = false;
    if (at_ >= text_.size()) fail("unexpected end");
    if (std::strchr("(){}[]", text_[at_])) return std::string(1, text_[at_++]);
    std::string out;
    if (text_[at_] != '"') {
      while (at_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_])) && !std::strchr("(){}[]\"", text_[at_])) {
        out += text_[at_++];
      }
      return out;
    }
    for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
      char c = text_[at_];
      if (c == '\\') {
        c = text_[++at_];
        if (c == 'x') {
          c = static_cast<char>(std::stoi(text_.substr(at_ + 1, 2), nullptr, 16));
          at_ += 2;
        } else {
          c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == '0' ? '\0' : c;
        }
      }
      out += c;
    }
    ++at_;
    quoted_ = true;
    return out;
  }
  std::string peek() {
    const size_t saved = at_;
    std::string word = next();
    at_ = saved;
    return word;
  }
  long long number() {
    const std::string word = next();
    try {
      // Unsigned where it can be, so that 64-bit bit patterns fit.
      return word[0] == '-' ? std::stoll(word, nullptr, 0) : static_cast<long long>(std::stoull(word, nullptr, 0));
    } catch (...) {
      fail("not a number: " + word);
    }
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("region text, at " + std::to_string(at_) + ": " + what);
  }

  // ( BYTES ), or { BYTES } with its closing 0 when `close` is "}".
  ByteVec group(const char* open = "(", const char* close = ")") {
    if (next() != open) fail(std::string("expected ") + open);
    ByteVec out;
    while (peek() != close) item(out);
    next();
    return out;
  }

  void item(ByteVec& out) {
    const std::string word = next();
    if (quoted_) return append(out, word);
    if (word.size() >= 2 && word[0] == 'u' && std::isdigit(static_cast<unsigned char>(word[1]))) {
      return put(out, static_cast<uint64_t>(number()), std::stoi(word.substr(1)) / 8);
    }
    if (word == "le32") {
      const auto v = static_cast<uint32_t>(number());
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
      return;
    }
    if (word == "hex") {
      const std::string digits = next();
      for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    } else if (word == "str") {
      string(out, next());
    } else if (word == "zlib") {
      append(out, zlibCompress(group()));
    } else if (word == "gzip") {
      const ByteVec data = group();
      z_stream zs{};
      deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
      ByteVec packed(deflateBound(&zs, static_cast<uLong>(data.size())) + 32);
      zs.next_in = const_cast<Bytef*>(data.data());
      zs.avail_in = static_cast<uInt>(data.size());
      zs.next_out = packed.data();
      zs.avail_out = static_cast<uInt>(packed.size());
      deflate(&zs, Z_FINISH);
      packed.resize(zs.total_out);
      deflateEnd(&zs);
      append(out, packed);
    } else if (word == "zlibstored") {
      // Stored blocks alone: a stream whose length is known to the byte.
      const ByteVec data = group();
      append(out, ByteVec{0x78, 0x01});
      size_t at = 0;
      do {
        const size_t n = std::min<size_t>(data.size() - at, 65535);
        out.push_back(at + n == data.size() ? 1 : 0);
        append(out, ByteVec{static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(~n),
                     static_cast<uint8_t>(~n >> 8)});
        out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
        at += n;
      } while (at < data.size());
      const auto sum = static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
      append(out, ByteVec{static_cast<uint8_t>(sum >> 24), static_cast<uint8_t>(sum >> 16), static_cast<uint8_t>(sum >> 8),
                   static_cast<uint8_t>(sum)});
    } else if (word == "lz4") {
      const size_t block = peek() == "(" ? 65536 : static_cast<size_t>(number());
      append(out, lz4Stream(group(), block));
    } else if (word == "record" || word == "shortrecord") {
      record(out, anvil::kZlibCompression, zlibCompress(group()), word == "shortrecord");
    } else if (word == "deflated") {
      // A record as pagemend writes one: zlib's format, made by libdeflate.
      record(out, anvil::kZlibCompression, libdeflateCompress(group()));
    } else if (word == "sized") {
      const auto type = static_cast<uint8_t>(number());
      record(out, type, group());
    } else if (word == "repeat") {
      const long long times = number();
      const ByteVec once = group();
      for (long long i = 0; i < times; ++i) append(out, once);
    } else if (word == "random") {
      const long long size = number();
      std::mt19937 rng(static_cast<unsigned>(number()));
      for (long long i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(rng()));
    } else if (word == "cut" || word == "head") {
      const auto n = static_cast<size_t>(number());
      ByteVec all = group();
      all.resize(word == "head" ? std::min(n, all.size()) : all.size() - std::min(n, all.size()));
      append(out, all);
    } else if (word == "payload") {
      payload(out, type());
    } else {
      const int id = typeOf(word);
      out.push_back(static_cast<uint8_t>(id));
      string(out, next());
      payload(out, id);
    }
  }

 private:
  int typeOf(const std::string& word) {
    const auto it = std::find(std::begin(kTypes), std::end(kTypes), word);
    if (it != std::end(kTypes)) return static_cast<int>(it - std::begin(kTypes));
    if (!std::isdigit(static_cast<unsigned char>(word[0]))) fail("unknown word " + word);
    return std::stoi(word, nullptr, 0);
  }
  int type() { return typeOf(next()); }

  void payload(ByteVec& out, int id) {
    if (id >= 1 && id <= 4) return put(out, static_cast<uint64_t>(number()), kSizes[id]);
    if (id == 5 || id == 6) {
      const std::string word = next();
      uint64_t bits = 0;
      if (word.rfind("0x", 0) == 0) {
        bits = std::stoull(word, nullptr, 16);
      } else if (id == 5) {
        const float f = std::stof(word);
        std::memcpy(&bits, &f, 4);
      } else {
        const double d = std::stod(word);
        std::memcpy(&bits, &d, 8);
      }
      return put(out, bits, kSizes[id]);
    }
    if (id == 8 && peek() == "(") {  // a string of any bytes
      const ByteVec bytes = group("(", ")");
      return string(out, std::string(bytes.begin(), bytes.end()));
    }
    if (id == 8) return string(out, next());
    if (id == 10) {
      append(out, group("{", "}"));
      return out.push_back(0);
    }
    const int element = id == 9 ? type() : id;
    if (next() != "[") fail("expected [");
    ByteVec elements;
    uint32_t count = 0;
    for (; peek() != "]"; ++count) {
      if (id == 9) {
        payload(elements, element);
      } else {
        put(elements, static_cast<uint64_t>(number()), kSizes[id]);
      }
    }
    next();
    if (id == 9) out.push_back(static_cast<uint8_t>(element));
    put(out, count, 4);
    append(out, elements);
  }

  void skipSpace() {
    while (at_ < text_.size() && (std::isspace(static_cast<unsigned char>(text_[at_])) || text_[at_] == '#')) {
      if (text_[at_] == '#') at_ = std::min(text_.find('\n', at_), text_.size());
      if (at_ < text_.size()) ++at_;
    }
  }

  const std::string& text_;
  size_t at_ = 0;
  bool quoted_ = false;
};

}  // namespace

ByteVec lz4Stream(const ByteVec& data, size_t block) {
  int level = 0;
  while ((size_t{1} << (10 + level)) < block) ++level;
  ByteVec out;
  auto header = [&](uint8_t method, size_t compressed, size_t original, uint32_t check) {
    append(out, std::string("LZ4Block"));
    out.push_back(static_cast<uint8_t>(method | level));
    for (uint32_t v : {static_cast<uint32_t>(compressed), static_cast<uint32_t>(original), check}) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
  };
  for (size_t at = 0; at < data.size(); at += block) {
    const size_t n = std::min(block, data.size() - at);
    std::vector<char> packed(static_cast<size_t>(LZ4_compressBound(static_cast<int>(n))));
    const int made = LZ4_compress_default(reinterpret_cast<const char*>(data.data() + at), packed.data(),
                                          static_cast<int>(n), static_cast<int>(packed.size()));
    const uint32_t check = static_cast<uint32_t>(XXH32(data.data() + at, n, 0x9747B28C)) & 0x0FFFFFFF;
    if (made <= 0 || static_cast<size_t>(made) >= n) {
      header(0x10, n, n, check);
      out.insert(out.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    } else {
      header(0x20, static_cast<size_t>(made), n, check);
      out.insert(out.end(), packed.begin(), packed.begin() + made);
    }
  }
  header(0x10, 0, 0, 0);
  return out;
}

ByteVec libdeflateCompress(const ByteVec& data) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
  ByteVec out(libdeflate_zlib_compress_bound(compressor, data.size()));
  out.resize(libdeflate_zlib_compress(compressor, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(compressor);
  return out;
}

ByteVec zlibCompress(const ByteVec& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  ByteVec out(size);
  compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION);
  out.resize(size);
  return out;
}

size_t zlibStreamLength(const ByteVec& data) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return 0;
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  ByteVec buffer(1 << 16);
  int r = Z_OK;
  while (r == Z_OK) {
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<uInt>(buffer.size());
    r = inflate(&zs, Z_NO_FLUSH);
  }
  const size_t length = r == Z_STREAM_END ? zs.total_in : 0;
  inflateEnd(&zs);
  return length;
}

ByteVec zlibInflate(const ByteVec& data, bool checksumMayBeShort) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return {};
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  ByteVec out, buffer(1 << 16);
  int r = Z_OK;
  while (r == Z_OK) {
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<uInt>(buffer.size());
    r = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), buffer.begin(), buffer.end() - zs.avail_out);
  }
  inflateEnd(&zs);
  if (r == Z_STREAM_END) return out;
  if (!checksumMayBeShort || r != Z_BUF_ERROR) return {};
  // Short of its checksum: whole once the bytes it lacks are added.
  const auto sum = static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), out.data(), static_cast<uInt>(out.size())));
  for (int missing = 1; missing <= 4; ++missing) {
    ByteVec whole = data;
    for (int i = 4 - missing; i < 4; ++i) whole.push_back(static_cast<uint8_t>(sum >> (24 - 8 * i)));
    if (zlibInflate(whole) == out && !out.empty()) return out;
  }
  return {};
}

ByteVec recordAt(const ByteVec& file, int n) {
  using namespace anvil;
  const size_t offset = file.size() < kHeaderSize ? 0 : size_t{loadLocation(file.data(), n).sector} * kSectorSize;
  if (offset == 0 || offset + kRecordHeaderSize > file.size()) return {};
  const size_t length = nbt::loadU32(file.data() + offset);
  if (length > file.size() - offset - 4) return {};
  return ByteVec(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + 4 + length));
}

ByteVec bytesFromText(const std::string& text) {
  Parser p(text);
  ByteVec out;
  while (!p.atEnd()) p.item(out);
  return out;
}

ByteVec regionFromText(const std::string& text, const ByteVec& base) {
  using namespace anvil;
  Parser p(text);
  std::map<int, ByteVec> records;
  std::vector<std::pair<int, Location>> locations;
  std::vector<std::pair<int, uint32_t>> timestamps;
  std::vector<std::pair<size_t, ByteVec>> placed;
  long long size = -1;
  while (!p.atEnd()) {
    const std::string word = p.next();
    if (word == "place") {
      const auto at = static_cast<size_t>(p.number());
      placed.emplace_back(at, p.group());
    } else if (word == "size") {
      size = p.number();
    } else {
      const auto x = static_cast<int>(p.number());
      const int n = x + kRegionSide * static_cast<int>(p.number());
      if (word == "chunk") {
        ByteVec chunk;
        p.peek() == "(" ? void(chunk = p.group()) : p.item(chunk);
        record(records[n] = {}, kZlibCompression, zlibCompress(chunk));
      } else if (word == "slot") {
        records[n] = p.group();
      } else if (word == "append") {
        // A compound added to a list at the root of the base's chunk in this slot.
        const std::string name = p.next();
        ByteVec element = p.group("{", "}");
        element.push_back(0);
        const ByteVec stored = recordAt(base, n);
        ByteVec chunk = stored.size() > kRecordHeaderSize
                            ? zlibInflate(ByteVec(stored.begin() + kRecordHeaderSize, stored.end()), true)
                            : ByteVec();
        nbt::Tree tree;
        nbt::ByteCursor cursor(chunk.data() + std::min<size_t>(3, chunk.size()), chunk.data() + chunk.size());
        nbt::Tag list;
        if (chunk.size() > 3 && tree.read(nbt::kTagCompound, cursor) == nbt::Tree::Read::ok) {
          list = nbt::getList(tree.root(), name);
        }
        if (!list || (list.count() > 0 && list.elementType() != nbt::kTagCompound)) p.fail("no list " + name + " to append to");
        const size_t at = static_cast<size_t>(list.payload() - chunk.data());
        const size_t end = at + list.payloadSize();
        ByteVec changed(chunk.begin(), chunk.begin() + static_cast<long>(at));
        changed.push_back(nbt::kTagCompound);
        put(changed, list.count() + 1, 4);
        changed.insert(changed.end(), chunk.begin() + static_cast<long>(at + 5), chunk.begin() + static_cast<long>(end));
        append(changed, element);
        changed.insert(changed.end(), chunk.begin() + static_cast<long>(end), chunk.end());
        record(records[n] = {}, kZlibCompression, zlibCompress(changed));
      } else if (word == "location" || word == "locations") {
        const auto sector = static_cast<uint32_t>(p.number());
        const auto count = static_cast<uint8_t>(p.number());
        for (int k = n; k < (word == "location" ? n + 1 : kSlotCount); ++k) locations.push_back({k, {sector, count}});
      } else if (word == "timestamp") {
        timestamps.emplace_back(n, static_cast<uint32_t>(p.number()));
      } else {
        p.fail("unknown directive " + word);
      }
    }
  }
  ByteVec file = base.empty() ? ByteVec(kHeaderSize, 0) : base;
  auto pad = [&] { file.resize(static_cast<size_t>(sectorsFor(static_cast<int64_t>(file.size())) * kSectorSize), 0); };
  for (const auto& [n, record] : records) {
    pad();
    storeLocation(file.data(), n, {static_cast<uint32_t>(file.size() / kSectorSize),
                                   static_cast<uint8_t>(sectorsFor(static_cast<int64_t>(record.size())))});
    append(file, record);
  }
  pad();
  for (const auto& [at, bytes] : placed) {
    file.resize(std::max(file.size(), at + bytes.size()), 0);
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<long>(at));
  }
  for (const auto& [n, location] : locations) storeLocation(file.data(), n, location);
  for (const auto& [n, value] : timestamps) storeTimestamp(file.data(), n, value);
  if (size >= 0) file.resize(static_cast<size_t>(size), 0);
  return file;
}

}  // namespace testing_support
