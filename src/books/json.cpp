#include "books/json.h"

#include <cstdint>

namespace books::json {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One UTF-16 code unit as Java's modified UTF-8 writes it: zero as two
// bytes, each half of a pair on its own.
void appendCodeUnit(std::string& out, uint32_t unit) {
  if (unit != 0 && unit < 0x80) {
    out += static_cast<char>(unit);
  } else if (unit < 0x800) {
    out += static_cast<char>(0xC0 | (unit >> 6));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  }
}

// White space between tokens, in both of Gson's modes (a form feed is none).
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Whether Gson takes the character as part of an unquoted word.
struct LiteralTable {
  bool of[256];
  constexpr LiteralTable() : of() {
    for (int i = 0; i < 256; ++i) of[i] = true;
    for (char c : "/\\;#={}[]:, \t\f\r\n") of[static_cast<unsigned char>(c)] = false;
    of[0] = true;  // (the literal's own terminator above)
  }
};
constexpr LiteralTable kLiteral;
bool isLiteral(char c) { return kLiteral.of[static_cast<unsigned char>(c)]; }

// Gson reads a number into a buffer of this many characters: a longer one
// it takes for a word.
constexpr size_t kNumberBuffer = 1024;

class Reader {
 public:
  Reader(std::string_view text, bool lenient) : text_(text), lenient_(lenient) {}

  // White space, and leniently comments; false for a comment never closed.
  bool skipSpace() {
    for (;;) {
      while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
      if (!lenient_ || atEnd()) return true;
      const std::string_view rest = text_.substr(at_);
      if (rest[0] == '#' || rest.substr(0, 2) == "//") {
        const size_t end = rest.find_first_of("\r\n");
        at_ = end == std::string_view::npos ? text_.size() : at_ + end;
      } else if (rest.substr(0, 2) == "/*") {
        const size_t end = rest.find("*/", 2);
        if (end == std::string_view::npos) return false;
        at_ += end + 2;
      } else {
        return true;
      }
    }
  }
  // After the value, in either mode: white space only.
  bool onlySpaceLeft() {
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
    return atEnd();
  }
  bool atEnd() const { return at_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[at_]; }
  bool take(char c) {
    if (atEnd() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool take(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  // A string, at its opening quote (leniently ' too); its characters go to `out` if given.
  bool string(std::string* out) {
    const char quote = text_[at_++];
    while (at_ < text_.size()) {
      // A run of plain characters at once: most strings have no escape.
      size_t end = at_;
      while (end < text_.size() && text_[end] != quote && text_[end] != '\\') ++end;
      if (out) out->append(text_.data() + at_, end - at_);
      at_ = end;
      if (atEnd()) break;
      const char c = text_[at_++];
      if (c == quote) return true;
      if (atEnd()) return false;
      char escaped = text_[at_++];
      switch (escaped) {
        case '"': case '\\': case '/': case '\'': case '\n': break;
        case 'b': escaped = '\b'; break;
        case 'f': escaped = '\f'; break;
        case 'n': escaped = '\n'; break;
        case 'r': escaped = '\r'; break;
        case 't': escaped = '\t'; break;
        case 'u': {
          if (text_.size() - at_ < 4) return false;
          uint32_t unit = 0;
          for (int i = 0; i < 4; ++i) {
            const int digit = hexValue(text_[at_++]);
            if (digit < 0) return false;
            unit = unit << 4 | static_cast<uint32_t>(digit);
          }
          if (out) appendCodeUnit(*out, unit);
          continue;
        }
        default:
          return false;
      }
      if (out) *out += escaped;
    }
    return false;  // no closing quote
  }

  // A number as Gson tells one: -? digits (. digits)? ([eE] [+-]? digits)?,
  // no leading zero before another digit (of the integer part as Gson
  // accumulates it, in a long that wraps), ended by the text's end or a
  // character that ends a word. Otherwise nothing is taken.
  bool number(std::string* out) {
    enum { none, sign, digit, decimal, fraction, expE, expSign, expDigit } last = none;
    uint64_t value = 0;  // the integer part, negated, wrapping as Gson's long does
    size_t i = at_;
    for (; i < text_.size(); ++i) {
      if (i - at_ == kNumberBuffer) return false;
      const char c = text_[i];
      if (c == '-' && last == none) {
        last = sign;
      } else if ((c == '-' || c == '+') && last == expE) {
        last = expSign;
      } else if ((c == 'e' || c == 'E') && (last == digit || last == fraction)) {
        last = expE;
      } else if (c == '.' && last == digit) {
        last = decimal;
      } else if (isDigit(c)) {
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (last == none || last == sign) {
          value = 0 - d;
          last = digit;
        } else if (last == digit) {
          if (value == 0) return false;
          value = value * 10 - d;
        } else if (last == decimal) {
          last = fraction;
        } else if (last == expE || last == expSign) {
          last = expDigit;
        }
      } else if (isLiteral(c)) {
        return false;
      } else {
        break;
      }
    }
    if (i - at_ == kNumberBuffer) return false;
    if (last != digit && last != fraction && last != expDigit) return false;
    if (out) out->assign(text_.substr(at_, i - at_));
    at_ = i;
    return true;
  }

  // true, false or null (leniently in any case), not followed by a word's character.
  bool keyword(Value& value) {
    for (const char* word : {"true", "false", "null"}) {
      const std::string_view w(word);
      if (text_.size() - at_ < w.size()) continue;
      bool same = true;
      for (size_t i = 0; i < w.size() && same; ++i) {
        const char c = text_[at_ + i];
        same = c == w[i] || (lenient_ && c == w[i] - 'a' + 'A');
      }
      if (!same || (at_ + w.size() < text_.size() && isLiteral(text_[at_ + w.size()]))) continue;
      at_ += w.size();
      value.kind = w[0] == 'n' ? Value::null : Value::boolean;
      value.truth = w[0] == 't';
      return true;
    }
    return false;
  }

  // Leniently, a word without quotes, at a character that may begin one.
  void word(std::string* out) {
    const size_t start = at_;
    while (!atEnd() && isLiteral(text_[at_])) ++at_;
    if (out) out->assign(text_.substr(start, at_ - start));
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
  bool lenient_;
};

}  // namespace

const Value* field(const Value& object, std::string_view name) {
  for (size_t i = object.names.size(); i-- > 0;) {
    if (object.names[i] == name) return &object.elements[i];
  }
  return nullptr;
}

// Iterative, so that however deep a page nests, checking it takes no more
// stack than a flat one. Every step is the one Gson's JsonReader takes.
Verdict parse(std::string_view text, Value* out, Value::Kind* kind, Mode mode) {
  const bool lenient = mode == Mode::lenient;
  Reader in(text, lenient);
  std::vector<char> open;        // '[' or '{' of each container being read, outermost first
  std::vector<Value> building;   // with `out`: the same containers' values
  bool tooDeep = false;
  const bool build = out != nullptr;
  if (kind) *kind = Value::null;
  if (out) *out = Value();
  if (lenient) {
    in.take("\xEF\xBB\xBF");  // a byte order mark
    if (!in.skipSpace()) return Verdict::notJson;
    in.take(")]}'\n");  // the prefix some servers put before JSON
    if (!in.skipSpace()) return Verdict::notJson;
    if (in.atEnd()) return Verdict::json;  // nothing, as Gson reads it: null
  }
  enum { kValue, kFirstElement, kElement, kFirstName, kName, kNext } expect = kValue;
  bool topIsNull = false;

  auto attach = [&](Value&& value) {
    if (!build || tooDeep) return;
    if (building.empty()) {
      *out = std::move(value);
    } else {
      building.back().elements.push_back(std::move(value));
    }
  };
  auto close = [&] {
    open.pop_back();
    if (build && !tooDeep) {
      Value done = std::move(building.back());
      building.pop_back();
      attach(std::move(done));
    }
    expect = kNext;
  };

  for (;;) {
    if (expect == kNext && open.empty()) break;  // the value at the top is whole
    if (!in.skipSpace()) return Verdict::notJson;
    if (expect == kNext) {
      if (in.take(',') || (lenient && in.take(';'))) {
        expect = open.back() == '[' ? kElement : kName;
      } else if (in.take(open.back() == '[' ? ']' : '}')) {
        close();
      } else {
        return Verdict::notJson;
      }
      continue;
    }
    if (in.atEnd()) return Verdict::notJson;
    const char c = in.peek();
    if (expect == kFirstName || expect == kName) {
      // A comma before } is refused in either mode.
      if (expect == kFirstName && in.take('}')) {
        close();
        continue;
      }
      std::string name;
      std::string* into = build && !tooDeep ? &name : nullptr;
      if (c == '"' || (lenient && c == '\'')) {
        if (!in.string(into)) return Verdict::notJson;
      } else if (lenient && isLiteral(c)) {
        in.word(into);
      } else {
        return Verdict::notJson;
      }
      if (!in.skipSpace()) return Verdict::notJson;
      if (in.take(':')) {
      } else if (lenient && in.take('=')) {
        in.take('>');
      } else {
        return Verdict::notJson;
      }
      if (build && !tooDeep) building.back().names.push_back(std::move(name));
      expect = kValue;
      continue;
    }
    if (expect == kFirstElement && in.take(']')) {
      close();
      continue;
    }
    Value value;
    if (lenient && (expect == kFirstElement || expect == kElement) && (c == ',' || c == ';' || c == ']')) {
      attach(std::move(value));  // an element left empty is null; what ends it is read next
      expect = kNext;
      continue;
    }
    if (c == '[' || c == '{') {
      in.take(c);
      open.push_back(c);
      const Value::Kind k = c == '[' ? Value::array : Value::object;
      if (open.size() == 1 && kind) *kind = k;
      if (build && !tooDeep) {
        if (open.size() > static_cast<size_t>(kMaxDepth)) {
          tooDeep = true;
          building.clear();
        } else {
          Value& container = building.emplace_back();
          container.kind = k;
          // Most components hold a few elements or fields: room for them at once.
          container.elements.reserve(4);
          if (k == Value::object) container.names.reserve(4);
        }
      }
      expect = c == '[' ? kFirstElement : kFirstName;
      continue;
    }
    std::string* into = build && !tooDeep ? &value.text : nullptr;
    if (c == '"' || (lenient && c == '\'')) {
      value.kind = Value::string;
      if (!in.string(into)) return Verdict::notJson;
    } else if (in.keyword(value)) {
    } else if (in.number(into)) {
      value.kind = Value::number;
    } else if (lenient && isLiteral(c)) {
      value.kind = Value::string;
      in.word(into);
    } else {
      return Verdict::notJson;
    }
    if (open.empty()) {
      if (kind) *kind = value.kind;
      topIsNull = value.kind == Value::null;
    }
    attach(std::move(value));
    expect = kNext;
  }
  // Gson never looks past a null at the top.
  if (!(lenient && topIsNull) && !in.onlySpaceLeft()) return Verdict::notJson;
  return tooDeep ? Verdict::tooDeep : Verdict::json;
}

}  // namespace books::json
