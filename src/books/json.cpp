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

// What ends an unquoted word, as Gson's lenient reader has it.
bool endsWord(char c) { return std::string_view("/\\;#={}[]:, \t\f\r\n").find(c) != std::string_view::npos; }

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

  // A string, at its opening quote (leniently ' too); its characters go to `out` if given.
  bool string(std::string* out) {
    const char quote = text_[at_++];
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == quote) return true;
      if (c != '\\') {
        if (out) *out += c;
        continue;
      }
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
    // Leniently, "01" or "1x" is a word.
    return !lenient_ || atEnd() || endsWord(peek());
  }

  // Leniently, a word without quotes; true, false and null in any case.
  bool word(Value::Kind& kind) {
    const size_t start = at_;
    while (!atEnd() && !endsWord(peek())) ++at_;
    if (at_ == start) return false;
    std::string lower(text_.substr(start, at_ - start));
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    kind = lower == "true" || lower == "false" ? Value::boolean : lower == "null" ? Value::null : Value::string;
    return true;
  }

  size_t at_ = 0;

 private:
  std::string_view text_;
  bool lenient_;
};

}  // namespace

// Iterative, so that however deep a page nests, checking it takes no more
// stack than a flat one.
Verdict parse(std::string_view text, Value* out, Value::Kind* kind, Mode mode) {
  const bool lenient = mode == Mode::lenient;
  Reader in(text, lenient);
  std::vector<char> open;        // '[' or '{' of each container being read, outermost first
  std::vector<Value> building;   // with `out`: the same containers' values
  bool tooDeep = false;
  const bool build = out != nullptr && !lenient;
  if (lenient) {
    in.word("\xEF\xBB\xBF");  // a byte order mark
    if (!in.skipSpace()) return Verdict::notJson;
    in.word(")]}'\n");  // the prefix some servers put before JSON
  }
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
    if (!in.skipSpace()) return Verdict::notJson;
    if (expect == kNext) {
      if (open.empty()) break;  // the value at the top is whole
      if (in.take(',') || (lenient && in.take(';'))) {
        // Leniently, an element may be left empty, and the last may be followed by a separator.
        expect = open.back() == '[' ? (lenient ? kValueOrEnd : kValue) : (lenient ? kNameOrEnd : kName);
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
    if (lenient && expect == kValueOrEnd && (in.take(',') || in.take(';'))) continue;  // an empty element
    if (expect == kName || expect == kNameOrEnd) {
      std::string name;
      Value::Kind unquoted;
      if (in.peek() == '"' || (lenient && in.peek() == '\'')) {
        if (!in.string(build && !tooDeep ? &name : nullptr)) return Verdict::notJson;
      } else if (!lenient || !in.word(unquoted)) {
        return Verdict::notJson;
      }
      if (!in.skipSpace()) return Verdict::notJson;
      if (!in.take(':') && !(lenient && in.take('=') && (in.take('>') || true))) return Verdict::notJson;
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
    const size_t start = in.at_;
    if (c == '"' || (lenient && c == '\'')) {
      value.kind = Value::string;
      if (!in.string(into)) return Verdict::notJson;
    } else if ((c == '-' || isDigit(c)) && in.number(into)) {
      value.kind = Value::number;
    } else if (in.at_ = start, !lenient && (in.word("true") || in.word("false"))) {
      value.kind = Value::boolean;
      value.truth = c == 't';
    } else if (!lenient && in.word("null")) {
      value.kind = Value::null;
    } else if (!lenient || !in.word(value.kind)) {
      return Verdict::notJson;
    }
    if (open.empty() && kind) *kind = value.kind;
    attach(std::move(value));
    expect = kNext;
  }
  if (!in.skipSpace() || !in.atEnd()) return Verdict::notJson;
  return tooDeep ? Verdict::tooDeep : Verdict::json;
}

}  // namespace books::json
