#include "app/json_lines.h"

#include <cstdint>

#include "app/messages.h"

namespace app {

namespace {

const char kHex[] = "0123456789abcdef";

void appendEscaped(uint32_t unit, std::string& out) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 15];
}

void appendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xc0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xe0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  }
}

void appendCodePoint(uint32_t cp, std::string& out) {
  switch (cp) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      break;
  }
  // Control characters, and a surrogate standing alone (which a Java string
  // may hold, and UTF-8 cannot), are escaped.
  if (cp < 0x20 || cp == 0x7f || (cp >= 0xd800 && cp <= 0xdfff)) {
    appendEscaped(cp, out);
  } else {
    appendUtf8(cp, out);
  }
}

std::string hexOf(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

const char* kindName(books::Kind kind) {
  switch (kind) {
    case books::Kind::repaired:
      return "repaired";
    case books::Kind::corrupted:
      return "possibly corrupted";
    case books::Kind::warning:
      return "warning";
    case books::Kind::chunkError:
      return "chunk error";
    case books::Kind::fileError:
      return "file error";
  }
  return "warning";
}

}  // namespace

std::string jsonString(std::string_view text, bool& whole) {
  whole = true;
  std::string out = "\"";
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  // One UTF-16 unit of modified UTF-8 (one, two or three bytes; C0 80 is
  // NUL); 0xffffffff where the bytes at i are none.
  const auto unitAt = [&](size_t i, size_t& length) -> uint32_t {
    const unsigned c = p[i];
    if (c >= 0x01 && c < 0x80) {
      length = 1;
      return c;
    }
    if ((c & 0xe0) == 0xc0 && i + 1 < n && (p[i + 1] & 0xc0) == 0x80) {
      const uint32_t unit = ((c & 0x1f) << 6) | (p[i + 1] & 0x3f);
      if (unit >= 0x80 || unit == 0) {
        length = 2;
        return unit;
      }
    }
    if ((c & 0xf0) == 0xe0 && i + 2 < n && (p[i + 1] & 0xc0) == 0x80 && (p[i + 2] & 0xc0) == 0x80) {
      const uint32_t unit = ((c & 0x0f) << 12) | ((p[i + 1] & 0x3f) << 6) | (p[i + 2] & 0x3f);
      if (unit >= 0x800) {
        length = 3;
        return unit;
      }
    }
    return 0xffffffff;
  };
  for (size_t i = 0; i < n;) {
    size_t length = 1;
    const uint32_t unit = unitAt(i, length);
    if (unit == 0xffffffff) {
      whole = false;
      appendUtf8(0xfffd, out);
      ++i;
      continue;
    }
    if (unit >= 0xd800 && unit <= 0xdbff && i + length < n) {
      size_t next = 0;
      const uint32_t low = unitAt(i + length, next);
      if (low >= 0xdc00 && low <= 0xdfff) {
        appendUtf8(0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00), out);
        i += length + next;
        continue;
      }
    }
    appendCodePoint(unit, out);
    i += length;
  }
  return out + "\"";
}

void JsonObject::key(const char* name) {
  if (body_.size() > 1) body_ += ", ";
  body_ += '"';
  body_ += name;
  body_ += "\": ";
}

JsonObject& JsonObject::text(const char* name, std::string_view value) {
  bool whole;
  const std::string decoded = jsonString(value, whole);
  key(name);
  body_ += decoded;
  if (!whole) {
    key((std::string(name) + "_hex").c_str());
    body_ += '"' + hexOf(value) + '"';
  }
  return *this;
}

JsonObject& JsonObject::number(const char* name, long long value) {
  key(name);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::boolean(const char* name, bool value) {
  key(name);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::raw(const char* name, const std::string& json) {
  key(name);
  body_ += json;
  return *this;
}

std::string jsonFinding(const books::Finding& f, const std::string& file, const std::string& line) {
  using books::Place;
  JsonObject object;
  object.text("kind", kindName(f.kind)).text("file", file);
  if (f.inChunk) object.raw("chunk", "[" + std::to_string(f.chunkX) + ", " + std::to_string(f.chunkZ) + "]");
  if (f.hasTitle) object.text("title", f.title);
  if (f.page >= 0) object.number("page", f.page);
  if (f.hasPlace) {
    const Place& place = f.place;
    switch (place.holder) {
      case Place::Holder::none:
        break;
      case Place::Holder::inventory:
        object.text("holder", "inventory").text("player", place.id);
        break;
      case Place::Holder::enderChest:
        object.text("holder", "ender chest").text("player", place.id);
        break;
      case Place::Holder::frame:
        object.text("holder", place.frame).text("shows", place.id);
        break;
      default:
        if (place.hasId) object.text("holder", place.id);
    }
    if (place.hasPosition) {
      object.raw("position", "[" + std::to_string(place.x) + ", " + std::to_string(place.y) + ", " +
                                 std::to_string(place.z) + "]");
    }
    if (!place.inside.empty()) {
      std::string list = "[";
      for (const std::string& id : place.inside) {
        bool whole;
        list += (list.size() > 1 ? ", " : "") + jsonString(id, whole);
      }
      object.raw("inside", list + "]");
    }
  }
  if (f.subject == books::Subject::pageMayBeCorrupted) object.text("text", f.text);
  if (f.subject == books::Subject::titleShortened) object.text("new_title", f.text).boolean("filtered", f.value == 1);
  if (f.subject == books::Subject::generationInvalid) object.number("generation", f.value);
  if (f.subject == books::Subject::pageTooLongLater) object.number("characters", f.value);
  if (f.subject == books::Subject::codecCall) object.text("call", f.call).number("code", f.code);
  object.text("line", line.substr(0, line.size() - (!line.empty() && line.back() == '\n')));
  return object.line();
}

std::string jsonMessage(const std::string& file, const std::string& line) {
  const bool error = line.compare(0, 6, "Error:") == 0 || line.compare(0, 6, "ERROR:") == 0 ||
                     line.compare(0, 5, "FATAL") == 0;
  const bool warning = line.compare(0, 8, "Warning:") == 0;
  JsonObject object;
  object.text("kind", error ? "file error" : warning ? "warning" : "note").text("file", file);
  object.text("line", line.substr(0, line.size() - (!line.empty() && line.back() == '\n')));
  return object.line();
}

}  // namespace app
