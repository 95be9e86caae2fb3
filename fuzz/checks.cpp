#include "checks.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "books/book_repair.h"
#include "nbt/reader.h"
#include "nbt/writer.h"
#include "region/driver.h"
#include "support/trees.h"

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

std::unique_ptr<region::RegionTables> load(const std::string& path, const Bytes& bytes) {
  auto tables = std::make_unique<region::RegionTables>();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  require(f != nullptr, "cannot open the scratch region");
  region::loadRegion(f, static_cast<int64_t>(bytes.size()), *tables);
  std::fclose(f);
  return tables;
}

// Lenient JSON string decoding (raw control bytes allowed, as the game's reader allows).
bool decodeJsonString(const std::string& literal, std::string& out) {
  if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return false;
  out.clear();
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    char c = literal[i];
    if (c == '"') return false;
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

void tagReaderRoundTrip(const uint8_t* data, size_t size) {
  if (size == 0) return;
  nbt::ByteCursor cursor(data + 1, size - 1);
  nbt::TagPtr first = nbt::readTag(data[0], cursor);
  if (!first) return;
  Bytes written;
  require(first->write(written), "a tree the reader returned does not encode");
  nbt::ByteCursor again(written.data(), written.size());
  nbt::TagPtr second = nbt::readTag(data[0], again);
  require(second != nullptr, "written bytes do not read back");
  require(again.remaining() == 0, "written bytes read back shorter");
  require(testing_support::treesEqual(first.get(), second.get()), "read, write, read gives another tree");
  Bytes rewritten;
  require(second->write(rewritten) && rewritten == written, "writing the same tree twice differs");
}

void wholeRun(const uint8_t* data, size_t size, const std::string& scratchDir) {
  Bytes input(data, data + size);
  if (input.size() < static_cast<size_t>(region::kHeaderSize)) input.resize(region::kHeaderSize, 0);
  const std::string path = scratchDir + "/r.0.0.mca";
  writeBytes(path, input);
  // What the input holds, read the same way the run reads it (and repaired in memory the same way).
  std::unique_ptr<region::RegionTables> before = load(path, input);

  std::fflush(stdout);
  std::string binary = "pagemend";
  char* argv[] = {binary.data(), const_cast<char*>(path.c_str()), nullptr};
  int code = region::runPagemend(2, argv, region::TreeRelease::atEnd);
  std::fflush(stdout);
  Bytes output = readBytes(path);
  require(code == 0 || code == 1, "exit code other than 0 or 1");
  if (code != 0 || !before->repaired) {
    require(output == input, "the file changed although nothing was written");
    return;
  }
  std::unique_ptr<region::RegionTables> after = load(path, output);
  require(!after->repaired, "a rewritten region still has something to repair");
  for (int z = 0; z < region::kRegionSide; ++z) {
    for (int x = 0; x < region::kRegionSide; ++x) {
      const region::RawRecord& raw = before->raw[x][z];
      if (raw.length <= 0) {
        require(after->offsets[x][z] == 0, "a slot that held nothing holds something");
        continue;
      }
      require(after->offsets[x][z] != 0, "a stored chunk was lost");
      if (before->roots[x][z]) {
        require(testing_support::treesEqual(before->roots[x][z].get(), after->roots[x][z].get()),
                "a rewritten chunk does not read back as its repaired tree");
        continue;
      }
      // Not loaded: copied as stored, unless it held a tree that did not encode.
      const int64_t at = after->offsets[x][z];
      require(at + raw.length <= static_cast<int64_t>(output.size()), "a copied record is cut short");
      require(std::equal(output.begin() + at, output.begin() + at + raw.length, input.begin() + raw.offset),
              "a chunk that did not load was not copied as it was");
    }
  }
}

void pageRepair(const uint8_t* data, size_t size) {
  const std::string page(reinterpret_cast<const char*>(data), size);
  nbt::TAG_Compound item;
  auto tag = std::make_unique<nbt::TAG_Compound>();
  tag->children.put("title", std::make_unique<nbt::TAG_String>("T"));
  auto pages = std::make_unique<nbt::TAG_List>();
  pages->elementType = nbt::kTagString;
  pages->elements.push_back(std::make_unique<nbt::TAG_String>(page));
  nbt::TAG_String* stored = static_cast<nbt::TAG_String*>(pages->elements[0].get());
  tag->children.put("pages", std::move(pages));
  item.children.put("tag", std::move(tag));

  const bool changed = books::checkWrittenBook(&item, " in a test");
  const bool looksLikeJson = !page.empty() && (page[0] == '{' || page[0] == '"');
  if (looksLikeJson || !changed) {
    require(stored->value == page, "a page that was not repaired changed");
    size_t escapes = 0;
    for (char c : page) escapes += c == '\\' || c == '"' || c == '\n';
    require(looksLikeJson || page.size() + escapes + 2 > nbt::kMaxStringBytes, "a plain page was not repaired");
    return;
  }
  require(stored->value.size() <= nbt::kMaxStringBytes, "a repaired page is too long to store");
  std::string decoded;
  require(decodeJsonString(stored->value, decoded), "a repaired page is not a JSON string literal");
  require(decoded == page, "a repaired page does not decode to the original text");
}

}  // namespace fuzz_checks
