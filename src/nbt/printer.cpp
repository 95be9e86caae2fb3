#include "nbt/printer.h"

#include <cstring>
#include <string>
#include <vector>

namespace nbt {

namespace {

const char* const kLabels[] = {"",         "(byte)",   "(short)",  "(int)",     "(long)",
                               "(float)",  "(double)", "(bytearray)", "(string)", "(list)",
                               "(compound)", "(intarray)", "(longarray)"};

class Printer {
 public:
  Printer(bool showTypes, std::FILE* out) : showTypes_(showTypes), out_(out) {}

  void tag(Tag tag, int level) {
    switch (tag.type()) {
      case kTagString: {
        // Up to the first zero byte, as C strings end.
        const std::string text(tag.stringValue());
        std::fprintf(out_, "%s\"%s\"", label(kTagString), text.c_str());
        return;
      }
      case kTagList:
        list(tag, level);
        return;
      case kTagCompound:
        compound(tag, level);
        return;
      default:
        value(tag.type(), tag.payload());
    }
  }

 private:
  const char* label(uint8_t type) const { return showTypes_ ? kLabels[type] : ""; }
  void indent(int level) { std::fprintf(out_, "%*s", 2 * level, ""); }

  // Numbers and arrays, from their bytes.
  void value(uint8_t type, const uint8_t* p) {
    switch (type) {
      case kTagByte:
        std::fprintf(out_, "%s%hhd", label(type), static_cast<signed char>(p[0]));
        return;
      case kTagShort:
        std::fprintf(out_, "%s%hd", label(type), static_cast<short>(loadU16(p)));
        return;
      case kTagInt:
        std::fprintf(out_, "%s%d", label(type), static_cast<int>(static_cast<int32_t>(loadU32(p))));
        return;
      case kTagLong:
        std::fprintf(out_, "%s%lld", label(type), static_cast<long long>(static_cast<int64_t>(loadU64(p))));
        return;
      case kTagFloat: {
        const uint32_t bits = loadU32(p);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        std::fprintf(out_, "%s%f", label(type), static_cast<double>(v));
        return;
      }
      case kTagDouble: {
        const uint64_t bits = loadU64(p);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        std::fprintf(out_, "%s%f", label(type), v);
        return;
      }
      case kTagByteArray:
      case kTagIntArray:
      case kTagLongArray:
        array(type, p);
        return;
      default:
        return;  // TAG_End prints nothing
    }
  }

  void array(uint8_t type, const uint8_t* p) {
    const uint32_t count = loadU32(p);
    std::fprintf(out_, "%s[", label(type));
    p += 4;
    for (uint32_t i = 0; i < count; ++i) {
      long long v;
      if (type == kTagByteArray) {
        v = static_cast<int8_t>(p[i]);
      } else if (type == kTagIntArray) {
        v = static_cast<int32_t>(loadU32(p + 4 * size_t{i}));
      } else {
        v = static_cast<int64_t>(loadU64(p + 8 * size_t{i}));
      }
      std::fprintf(out_, "%s%lld", i ? "," : "", v);
    }
    std::fputc(']', out_);
  }

  void startElement(bool first, int level) {
    std::fprintf(out_, "%s\n", first ? "" : ",");
    indent(level);
  }

  void list(Tag list, int level) {
    std::fprintf(out_, "%s[", label(kTagList));
    if (Tag element = list.firstChild()) {
      for (bool first = true; element; element = element.nextSibling(), first = false) {
        startElement(first, level + 1);
        tag(element, level + 1);
      }
    } else {
      // Numbers and TAG_End elements have no tag of their own: print them from the bytes.
      static const size_t kSize[] = {0, 1, 2, 4, 8, 4, 8};
      const uint8_t type = list.elementType();
      const uint32_t count = list.count();
      for (uint32_t i = 0; i < count; ++i) {
        startElement(i == 0, level + 1);
        value(type, list.payload() + 5 + size_t{i} * kSize[type]);
      }
    }
    std::fputc('\n', out_);
    indent(level);
    std::fputc(']', out_);
  }

  void compound(Tag compound, int level) {
    std::vector<Tag> entries;
    sortedEntries(compound, entries);
    std::fprintf(out_, "%s{", label(kTagCompound));
    for (size_t i = 0; i < entries.size(); ++i) {
      startElement(i == 0, level + 1);
      const std::string name(entries[i].name());
      std::fprintf(out_, "\"%s\":", name.c_str());
      tag(entries[i], level + 1);
    }
    std::fputc('\n', out_);
    indent(level);
    std::fputc('}', out_);
  }

  bool showTypes_;
  std::FILE* out_;
};

}  // namespace

void printTag(Tag tag, int level, bool showTypes, std::FILE* out) { Printer(showTypes, out).tag(tag, level); }

}  // namespace nbt
