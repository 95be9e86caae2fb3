#pragma once

// JSON as pages hold it: the text of a page is judged by the grammar of RFC
// 8259, with two allowances the game's own reader makes, so that no page the
// game reads as JSON is taken for plain text: control bytes inside strings
// are taken as they are, and bytes from 0x80 up are not checked as UTF-8
// (page texts are Java's modified UTF-8, in which a character outside the
// basic plane is two encoded halves).

#include <string>
#include <string_view>
#include <vector>

namespace books::json {

// A JSON value as read.
struct Value {
  enum Kind { null, boolean, number, string, array, object };
  Kind kind = null;
  bool truth = false;
  // A string's characters as the game stores them (modified UTF-8: a \u
  // escape becomes its code unit's own one to three bytes, \u0000 two), or a
  // number as it is written.
  std::string text;
  std::vector<Value> elements;    // of an array; of an object, the values
  std::vector<std::string> names;  // of an object, its names in order, beside `elements`
};

// Containers a value read into a Value may nest; deeper ones are not read.
constexpr int kMaxDepth = 512;

enum class Verdict {
  notJson,  // not one JSON value, with nothing but white space around it
  json,
  tooDeep,  // JSON, but nesting deeper than kMaxDepth: not read into `out`
};

// Reads `text` as one JSON value. With `out`, the value is read into it
// (and only then is the depth bounded); `kind`, when asked, is the kind of
// the value at the top.
Verdict parse(std::string_view text, Value* out = nullptr, Value::Kind* kind = nullptr);

}  // namespace books::json
