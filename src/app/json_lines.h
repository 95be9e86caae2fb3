#pragma once

// --json: every finding, every file's result and the summary as one JSON
// object a line (JSON Lines). Texts are decoded from Java's modified UTF-8,
// as the game stores them; a text that is not has its undecodable bytes as
// U+FFFD and, beside it, "<name>_hex" with its bytes, so nothing is lost.

#include <string>
#include <string_view>

#include "books/finding.h"

namespace app {

// A JSON object under construction, its fields in the order they are added.
class JsonObject {
 public:
  JsonObject& text(const char* name, std::string_view value);  // decoded from modified UTF-8
  JsonObject& number(const char* name, long long value);
  JsonObject& boolean(const char* name, bool value);
  JsonObject& raw(const char* name, const std::string& json);  // a value already in JSON
  // The object and its line feed.
  std::string line() const { return body_ + "}\n"; }

 private:
  void key(const char* name);
  std::string body_ = "{";
};

// A JSON string of `text` read as modified UTF-8; false in `whole` when a
// byte of it could not be decoded (it became U+FFFD).
std::string jsonString(std::string_view text, bool& whole);

// A finding, about `file`, whose text line is `line`.
std::string jsonFinding(const books::Finding& finding, const std::string& file, const std::string& line);
// A line the program says of a file as a whole (an error, a warning, a note).
std::string jsonMessage(const std::string& file, const std::string& line);

}  // namespace app
