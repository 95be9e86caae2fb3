#include "books/json.h"

#include <cstdint>

namespace books::json {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
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

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  void skipSpace() {
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
  }
  bool atEnd() const { return at_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[at_]; }
  bool take(char c) {
    if (peek() != c || atEnd()) return false;
    ++at_;
    return true;
  }
  bool word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  // A string, at its opening quote; its characters go to `out` if given.
  bool string(std::string* out) {
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        if (out) *out += c;
        continue;
      }
      if (atEnd()) return false;
      char escaped = text_[at_++];
      switch (escaped) {
        case '"': case '\\': case '/': break;
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

  // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
  bool number(std::string* out) {
    const size_t start = at_;
    take('-');
    if (!take('0')) {
      if (!isDigit(peek())) return false;
      while (isDigit(peek())) ++at_;
    }
    if (take('.')) {
      if (!isDigit(peek())) return false;
      while (isDigit(peek())) ++at_;
    }
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!isDigit(peek())) return false;
      while (isDigit(peek())) ++at_;
    }
    if (out) out->assign(text_.substr(start, at_ - start));
    return true;
  }

  size_t at_ = 0;

 private:
  std::string_view text_;
};

}  // namespace

// Iterative, so that however deep a page nests, checking it takes no more
// stack than a flat one.
Verdict parse(std::string_view text, Value* out, Value::Kind* kind) {
  Reader in(text);
  std::vector<char> open;        // '[' or '{' of each container being read, outermost first
  std::vector<Value> building;   // with `out`: the same containers' values
  bool tooDeep = false;
  const bool build = out != nullptr;
  enum { kValue, kValueOrEnd, kName, kNameOrEnd, kNext } expect = kValue;

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
    in.skipSpace();
    if (expect == kNext) {
      if (open.empty()) break;  // the value at the top is whole
      if (in.take(',')) {
        expect = open.back() == '[' ? kValue : kName;
      } else if (in.take(open.back() == '[' ? ']' : '}')) {
        close();
      } else {
        return Verdict::notJson;
      }
      continue;
    }
    if ((expect == kValueOrEnd && in.take(']')) || (expect == kNameOrEnd && in.take('}'))) {
      close();
      continue;
    }
    if (expect == kName || expect == kNameOrEnd) {
      std::string name;
      if (in.peek() != '"' || !in.string(build && !tooDeep ? &name : nullptr)) return Verdict::notJson;
      in.skipSpace();
      if (!in.take(':')) return Verdict::notJson;
      if (build && !tooDeep) building.back().names.push_back(std::move(name));
      expect = kValue;
      continue;
    }
    const char c = in.peek();
    if (in.atEnd()) return Verdict::notJson;
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
          building.emplace_back().kind = k;
        }
      }
      expect = c == '[' ? kValueOrEnd : kNameOrEnd;
      continue;
    }
    Value value;
    std::string* into = build && !tooDeep ? &value.text : nullptr;
    if (c == '"') {
      value.kind = Value::string;
      if (!in.string(into)) return Verdict::notJson;
    } else if (c == '-' || isDigit(c)) {
      value.kind = Value::number;
      if (!in.number(into)) return Verdict::notJson;
    } else if (in.word("true") || in.word("false")) {
      value.kind = Value::boolean;
      value.truth = c == 't';
    } else if (in.word("null")) {
      value.kind = Value::null;
    } else {
      return Verdict::notJson;
    }
    if (open.empty() && kind) *kind = value.kind;
    attach(std::move(value));
    expect = kNext;
  }
  in.skipSpace();
  if (!in.atEnd()) return Verdict::notJson;
  return tooDeep ? Verdict::tooDeep : Verdict::json;
}

}  // namespace books::json
