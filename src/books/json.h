#pragma once

// JSON as pages hold it, read by one reader in two modes.
//
// Leniently, exactly as the game reads a page (Gson's JsonParser): one value
// read leniently (unquoted and single-quoted names and strings, comments
// //, # and /* */ before it and between its parts, "=" or "=>" after a
// name, ";" between elements, elements left empty read as null, keywords in
// any case, numbers Gson's way, else words), a byte order mark and the
// prefix )]}' with a line break before it; then nothing but white space
// after it (not even a comment), except after a top-level null, which the
// game never checks. A text of nothing, white space or comments reads as null.
//
// Strictly, by the grammar of RFC 8259 with some of the allowances Gson
// makes in every mode: control bytes inside strings taken as they are, \'
// and a backslash before a line feed as escapes (but not keywords in other
// cases, nor a byte order mark: strictly JSON is JSON by the book).
//
// Bytes from 0x80 up are not checked as UTF-8 (page texts are Java's
// modified UTF-8); every one of them is a character of a word, as every
// character outside ASCII is to Gson.

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

// The value of an object's field as the game sees it (of a name given
// twice, the last), or null when there is none.
const Value* field(const Value& object, std::string_view name);

// Containers a value read into a Value may nest; deeper ones are not read.
constexpr int kMaxDepth = 512;

enum class Verdict {
  notJson,  // not read: the game's reader refuses it
  json,
  tooDeep,  // JSON, but nesting deeper than kMaxDepth: not read into `out`
};

enum class Mode { strict, lenient };

// Reads `text` as one JSON value. With `out`, the value is read into it,
// and only then is the depth bounded; `kind`, when asked, is the kind of
// the value at the top.
Verdict parse(std::string_view text, Value* out = nullptr, Value::Kind* kind = nullptr, Mode mode = Mode::strict);

}  // namespace books::json
