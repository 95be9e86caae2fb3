#include "books/text_component.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "books/json.h"
#include "nbt/big_endian.h"
#include "nbt/tree.h"

namespace books {

using json::Value;
using namespace nbt;

namespace {

void appendNumber(std::string& out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
}

bool appendString(std::string& out, std::string_view text) {
  if (text.size() > kMaxStringBytes) return false;
  appendNumber(out, text.size(), 2);
  out.append(text);
  return true;
}

// As the game's upgrade converts a JSON number: the exact decimal value,
// when it is a whole number within a long, as the smallest integer tag that
// holds it; otherwise the nearest double, as a float where a float holds
// that double exactly.
Encoded encodeNumber(const std::string& literal) {
  const bool negative = literal[0] == '-';
  std::string digits;
  long exponent = 0;  // the value is digits x 10^exponent
  size_t i = negative ? 1 : 0;
  for (; i < literal.size() && literal[i] >= '0' && literal[i] <= '9'; ++i) digits += literal[i];
  if (i < literal.size() && literal[i] == '.') {
    for (++i; i < literal.size() && literal[i] >= '0' && literal[i] <= '9'; ++i, --exponent) digits += literal[i];
  }
  if (i < literal.size()) {  // the exponent; beyond a million, it stays a million (no long comes near)
    const bool down = literal[++i] == '-';
    if (literal[i] == '+' || literal[i] == '-') ++i;
    long e = 0;
    for (; i < literal.size(); ++i) e = std::min(e * 10 + (literal[i] - '0'), 1000000L);
    exponent += down ? -e : e;
  }
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  while (!digits.empty() && digits.back() == '0') {
    digits.pop_back();
    ++exponent;
  }
  bool integral = digits.empty() || (exponent >= 0 && static_cast<long>(digits.size()) + exponent <= 19);
  uint64_t magnitude = 0;
  if (integral && !digits.empty()) {
    for (char d : digits) magnitude = magnitude * 10 + static_cast<uint64_t>(d - '0');
    for (long e = 0; e < exponent; ++e) magnitude *= 10;  // below 10^19: no overflow
    integral = magnitude <= (negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1);
  }
  Encoded out;
  if (integral) {
    const int64_t v = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    if (v >= INT8_MIN && v <= INT8_MAX) {
      out.type = kTagByte;
      appendNumber(out.payload, static_cast<uint64_t>(v), 1);
    } else if (v >= INT16_MIN && v <= INT16_MAX) {
      out.type = kTagShort;
      appendNumber(out.payload, static_cast<uint64_t>(v), 2);
    } else if (v >= INT32_MIN && v <= INT32_MAX) {
      out.type = kTagInt;
      appendNumber(out.payload, static_cast<uint64_t>(v), 4);
    } else {
      out.type = kTagLong;
      appendNumber(out.payload, static_cast<uint64_t>(v), 8);
    }
    return out;
  }
  const double d = std::strtod(literal.c_str(), nullptr);
  const float f = static_cast<float>(d);
  if (static_cast<double>(f) == d) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    out.type = kTagFloat;
    appendNumber(out.payload, bits, 4);
  } else {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    out.type = kTagDouble;
    appendNumber(out.payload, bits, 8);
  }
  return out;
}

bool encode(const Value& value, Encoded& out) {
  out = Encoded();
  switch (value.kind) {
    case Value::null:
      return false;
    case Value::boolean:
      out.type = kTagByte;
      out.payload.assign(1, value.truth ? 1 : 0);
      return true;
    case Value::number:
      out = encodeNumber(value.text);
      return true;
    case Value::string:
      out.type = kTagString;
      return appendString(out.payload, value.text);
    case Value::array: {
      std::vector<Encoded> elements(value.elements.size());
      for (size_t i = 0; i < elements.size(); ++i) {
        if (!encode(value.elements[i], elements[i])) return false;
      }
      out = encodeList(elements);
      return true;
    }
    case Value::object: {
      // Sorted by name, as every compound the tool writes; of a name given
      // twice, the last value, as the game's reader keeps it.
      std::vector<size_t> order;
      for (size_t i = 0; i < value.names.size(); ++i) order.push_back(i);
      std::stable_sort(order.begin(), order.end(),
                       [&](size_t a, size_t b) { return value.names[a] < value.names[b]; });
      out.type = kTagCompound;
      size_t entries = 0;
      for (size_t k = 0; k < order.size(); ++k) {
        const size_t i = order[k];
        if (k + 1 < order.size() && value.names[order[k + 1]] == value.names[i]) continue;
        Encoded entry;
        if (!encode(value.elements[i], entry)) return false;
        out.payload += static_cast<char>(entry.type);
        if (!appendString(out.payload, value.names[i])) return false;
        out.payload += entry.payload;
        out.depth = std::max(out.depth, entry.depth);
        ++entries;
      }
      out.payload += static_cast<char>(kTagEnd);
      out.wrapper = entries == 1 && value.names[order.back()].empty();
      out.holdsRaw = std::find(value.names.begin(), value.names.end(), "raw") != value.names.end();
      ++out.depth;
      return true;
    }
  }
  return false;
}

}  // namespace

Encoded encodeList(const std::vector<Encoded>& elements) {
  Encoded out;
  out.type = kTagList;
  const bool sameType = std::all_of(elements.begin(), elements.end(),
                                    [&](const Encoded& e) { return e.type == elements.front().type; });
  const uint8_t elementType = elements.empty() ? uint8_t{kTagEnd} : sameType ? elements.front().type : uint8_t{kTagCompound};
  out.payload += static_cast<char>(elementType);
  appendNumber(out.payload, elements.size(), 4);
  for (const Encoded& e : elements) {
    if (elementType != kTagCompound || (e.type == kTagCompound && !e.wrapper)) {
      out.payload += e.payload;
      out.depth = std::max(out.depth, e.depth);
      continue;
    }
    out.payload += static_cast<char>(e.type);
    appendString(out.payload, "");
    out.payload += e.payload;
    out.payload += static_cast<char>(kTagEnd);
    out.depth = std::max(out.depth, e.depth + 1);
  }
  ++out.depth;
  return out;
}

bool componentFromJson(std::string_view text, int dataVersion, Encoded& out) {
  Value value;
  // A string is text already; only an object or an array is converted.
  return json::parse(text, &value) == json::Verdict::json &&
         (value.kind == Value::object || value.kind == Value::array) &&
         judgeComponent(value, dataVersion) == Acceptance::accepted && encode(value, out);
}

}  // namespace books
