#pragma once

// JSON as pages hold it. Strictly, by the grammar of RFC 8259 with the
// allowances of the game's own reader (Gson): control bytes inside strings
// are taken as they are, \' and a backslash before a line feed are escapes,
// and bytes from 0x80 up are not checked as UTF-8 (page texts are Java's
// modified UTF-8, in which a character outside the basic plane is two
// encoded halves). Leniently, as the game reads a page from 1.20.5 on
// (Gson's lenient mode): also unquoted and single-quoted names and strings,
// comments (//, #, /* */), "=" or "=>" after a name, ";" between elements,
// elements left empty, a leading byte order mark. Leniently, at least
// everything the game reads is JSON: a page judged so is never taken for
// plain text that the game could not read.

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
  std::vector<Value> elements;     // of an array; of an object, the values
  std::vector<std::string> names;  // of an object, its names in order, beside `elements`
};

// Containers a value read into a Value may nest; deeper ones are not read.
constexpr int kMaxDepth = 512;

enum class Verdict {
  notJson,  // not one JSON value, with nothing but white space around it
  json,
  tooDeep,  // JSON, but nesting deeper than kMaxDepth: not read into `out`
};

enum class Mode { strict, lenient };

// Reads `text` as one JSON value. With `out` (strictly only), the value is
// read into it, and only then is the depth bounded; `kind`, when asked, is
// the kind of the value at the top (leniently, an unquoted word is a string).
Verdict parse(std::string_view text, Value* out = nullptr, Value::Kind* kind = nullptr, Mode mode = Mode::strict);

}  // namespace books::json
