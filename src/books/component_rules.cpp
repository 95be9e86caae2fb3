#include "books/component_rules.h"

#include <algorithm>
#include <cstdint>

#include "books/inspection.h"

namespace books {

using json::Value;

namespace {

using Rules = Acceptance (*)(const Value&, int);

// What the game makes of several parts together: refused if one part is,
// sure only if every part is.
Acceptance both(Acceptance a, Acceptance b) {
  if (a == Acceptance::refused || b == Acceptance::refused) return Acceptance::refused;
  return a == Acceptance::unsure || b == Acceptance::unsure ? Acceptance::unsure : Acceptance::accepted;
}
// Of two ways the game may take it, the one that takes it.
Acceptance either(Acceptance a, Acceptance b) {
  if (a == Acceptance::accepted || b == Acceptance::accepted) return Acceptance::accepted;
  return a == Acceptance::unsure || b == Acceptance::unsure ? Acceptance::unsure : Acceptance::refused;
}
Acceptance sure(bool accepted) { return accepted ? Acceptance::accepted : Acceptance::refused; }
bool isPrimitive(const Value& v) { return v.kind == Value::string || v.kind == Value::number || v.kind == Value::boolean; }

// A list of components, none left out: every one judged by `rules`.
Acceptance list(const Value& v, int version, Rules rules) {
  if (v.kind != Value::array || v.elements.empty()) return Acceptance::refused;
  Acceptance out = Acceptance::accepted;
  for (const Value& e : v.elements) {
    // How the game's codec meets a null in a list is not judged here.
    out = both(out, e.kind == Value::null ? Acceptance::unsure : rules(e, version));
  }
  return out;
}


// TextColor.parseColor: a colour's name, or # and a number Java's
// Integer.parseInt reads in base 16 (a sign allowed), from 0 to FFFFFF.
bool isColor(const std::string& text) {
  static const char* const kNamed[] = {"black", "dark_blue", "dark_green", "dark_aqua", "dark_red", "dark_purple",
                                       "gold", "gray", "dark_gray", "blue", "green", "aqua", "red", "light_purple",
                                       "yellow", "white"};
  for (const char* name : kNamed) {
    if (text == name) return true;
  }
  if (text.empty() || text[0] != '#') return false;
  size_t i = 1;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  if (i == text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    value = std::min<uint64_t>(value * 16 + static_cast<uint64_t>(digit), uint64_t{1} << 40);
  }
  return negative ? value == 0 : value <= 0xFFFFFF;
}

// A resource location (a font's): [namespace:]path, of lower-case letters,
// digits, _ - . (and / in the path).
bool isResourceLocation(const std::string& text) {
  const size_t colon = text.find(':');
  const std::string_view space = colon == std::string::npos ? std::string_view() : std::string_view(text).substr(0, colon);
  const std::string_view path = colon == std::string::npos ? std::string_view(text) : std::string_view(text).substr(colon + 1);
  auto only = [](std::string_view s, std::string_view extra) {
    for (char c : s) {
      if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' ||
            extra.find(c) != std::string_view::npos)) {
        return false;
      }
    }
    return true;
  };
  return only(space, "") && only(path, "/");
}

Acceptance codec(const Value& value, int version);

// The fields of an object the rules look at, each the last of its name (as
// the game's reader keeps them), gathered in one pass.
enum Field {
  kText, kTranslate, kFallback, kWith, kScore, kSelector, kSeparator, kKeybind, kNbt, kExtra, kColor, kBold,
  kItalic, kUnderlined, kStrikethrough, kObfuscated, kInsertion, kFont,
  // rules not judged here: a content type named outright, the events
  kType, kClickEvent, kHoverEvent, kClickEvent2, kHoverEvent2, kShadowColor, kFields
};
constexpr std::string_view kFieldNames[kFields] = {
    "text", "translate", "fallback", "with", "score", "selector", "separator", "keybind", "nbt", "extra", "color",
    "bold", "italic", "underlined", "strikethrough", "obfuscated", "insertion", "font", "type", "clickEvent",
    "hoverEvent", "click_event", "hover_event", "shadow_color"};

struct Fields {
  const Value* last[kFields] = {};

  explicit Fields(const Value& object) {
    for (size_t i = 0; i < object.names.size(); ++i) {
      for (int f = 0; f < kFields; ++f) {
        if (object.names[i] == kFieldNames[f]) {
          last[f] = &object.elements[i];
          break;
        }
      }
    }
  }
  // As the game's codec sees a field: one that is null is none.
  const Value* given(Field f) const { return last[f] && last[f]->kind != Value::null ? last[f] : nullptr; }
  // As Gson's JsonObject.has sees it (the older reader's way): null is there.
  const Value* has(Field f) const { return last[f]; }
};

// An optional field of the game's codec: absent, or as `rules` ask.
Acceptance optional(const Fields& fields, Field f, Acceptance (*rules)(const Value&)) {
  const Value* v = fields.given(f);
  return v ? rules(*v) : Acceptance::accepted;
}
Acceptance aString(const Value& v) { return sure(v.kind == Value::string); }
Acceptance aBoolean(const Value& v) {
  // Whether the game's JSON reading takes a number for a boolean is not known here.
  return v.kind == Value::boolean ? Acceptance::accepted : v.kind == Value::number ? Acceptance::unsure : Acceptance::refused;
}
Acceptance aColor(const Value& v) {
  // Java's Integer.parseInt takes the digits of every script: not judged here.
  if (v.kind == Value::string && v.text.size() > 1 && v.text[0] == '#' &&
      std::any_of(v.text.begin(), v.text.end(), [](char c) { return (c & 0x80) != 0; })) {
    return Acceptance::unsure;
  }
  return sure(v.kind == Value::string && isColor(v.text));
}
Acceptance aFont(const Value& v) { return sure(v.kind == Value::string && isResourceLocation(v.text)); }

// A score's name and objective, each as `kind` asks.
bool isScore(const Value* score, bool (*kind)(const Value&), bool nullIsNone) {
  if (!score || score->kind != Value::object) return false;
  const Value* name = json::field(*score, "name");
  const Value* objective = json::field(*score, "objective");
  if (nullIsNone) {
    if (name && name->kind == Value::null) name = nullptr;
    if (objective && objective->kind == Value::null) objective = nullptr;
  }
  return name && objective && kind(*name) && kind(*objective);
}
bool isString(const Value& v) { return v.kind == Value::string; }

// The contents a component may hold, tried in the game's order: the first
// that reads is the component's.
Acceptance contents(const Fields& f, int version) {
  Acceptance out = Acceptance::refused;
  if (const Value* text = f.given(kText)) out = either(out, aString(*text));
  if (const Value* key = f.given(kTranslate)) {
    Acceptance translation = both(aString(*key), optional(f, kFallback, aString));
    if (const Value* with = f.given(kWith)) {
      Acceptance arguments = sure(with->kind == Value::array);
      for (const Value& argument : with->elements) {
        arguments = both(arguments, isPrimitive(argument)             ? Acceptance::accepted
                                    : argument.kind == Value::null ? Acceptance::unsure
                                                                   : codec(argument, version));
      }
      translation = both(translation, arguments);
    }
    out = either(out, translation);
  }
  if (const Value* score = f.given(kScore)) out = either(out, sure(isScore(score, isString, true)));
  if (const Value* selector = f.given(kSelector)) {
    Acceptance read = aString(*selector);
    if (read == Acceptance::accepted && version >= kSelectorsParsedFrom) read = judgeSelector(selector->text);
    if (const Value* separator = f.given(kSeparator)) read = both(read, codec(*separator, version));
    out = either(out, read);
  }
  if (const Value* key = f.given(kKeybind)) out = either(out, aString(*key));
  // Where its data comes from is not judged here.
  if (f.given(kNbt)) out = either(out, Acceptance::unsure);
  return out;
}

// The text-component codec of 1.20.3 and later, on JSON: a string, a list
// of components, or an object of contents, style and "extra".
Acceptance codec(const Value& v, int version) {
  if (v.kind == Value::string) return Acceptance::accepted;
  if (v.kind == Value::array) return list(v, version, codec);
  if (v.kind != Value::object) return Acceptance::refused;
  const Fields f(v);
  for (int unjudged = kType; unjudged < kFields; ++unjudged) {
    if (f.given(static_cast<Field>(unjudged))) return Acceptance::unsure;
  }
  Acceptance out = contents(f, version);
  if (const Value* extra = f.given(kExtra)) out = both(out, list(*extra, version, codec));
  out = both(out, optional(f, kColor, aColor));
  for (Field style : {kBold, kItalic, kUnderlined, kStrikethrough, kObfuscated}) out = both(out, optional(f, style, aBoolean));
  out = both(out, optional(f, kInsertion, aString));
  return both(out, optional(f, kFont, aFont));
}

// Component.Serializer, up to 1.20.2: any string, number or boolean is
// text; an object's first content field decides; style is not checked.
Acceptance serializer(const Value& v, int version) {
  if (isPrimitive(v)) return Acceptance::accepted;
  if (v.kind == Value::array) return list(v, version, serializer);
  if (v.kind != Value::object) return Acceptance::refused;
  const Fields f(v);
  if (f.has(kClickEvent) || f.has(kHoverEvent)) return Acceptance::unsure;
  Acceptance out = Acceptance::refused;
  if (const Value* text = f.has(kText)) {
    out = sure(isPrimitive(*text));
  } else if (const Value* key = f.has(kTranslate)) {
    out = sure(isPrimitive(*key));
    if (const Value* with = f.has(kWith)) out = both(out, list(*with, version, serializer));
  } else if (const Value* score = f.has(kScore)) {
    out = sure(isScore(score, isPrimitive, false));
  } else if (const Value* selector = f.has(kSelector)) {
    out = sure(isPrimitive(*selector));
  } else if (const Value* key = f.has(kKeybind)) {
    out = sure(isPrimitive(*key));
  } else if (f.has(kNbt)) {
    out = Acceptance::unsure;
  }
  if (const Value* extra = f.has(kExtra)) out = both(out, list(*extra, version, serializer));
  // A style field of an odd kind: not judged here.
  for (Field style : {kColor, kBold, kItalic, kUnderlined, kStrikethrough, kObfuscated, kInsertion, kFont}) {
    if (f.has(style) && !isPrimitive(*f.has(style))) out = both(out, Acceptance::unsure);
  }
  return out;
}

bool isAllowedUnquoted(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' ||
         c == '.' || c == '+';
}

// java.util.UUID.fromString: five groups between dashes, each a long in
// base 16 (a + allowed), 36 characters at most.
bool isUuid(std::string_view s) {
  if (s.size() > 36) return false;
  int groups = 0;
  for (size_t from = 0;; ++groups) {
    const size_t dash = std::min(s.find('-', from), s.size());
    std::string_view group = s.substr(from, dash - from);
    if (!group.empty() && group[0] == '+') group.remove_prefix(1);
    if (group.empty() || group.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) return false;
    group.remove_prefix(std::min(group.find_first_not_of('0'), group.size()));
    if (group.size() > 16 || (group.size() == 16 && group[0] > '7')) return false;
    if (dash == s.size()) break;
    from = dash + 1;
  }
  return groups == 4;
}

}  // namespace

// The game's entity selector parser, as a text component's selector reads
// from 1.21.2: @ and a kind, its options (only an empty list, or one
// naming no option the game knows, is judged), or a player's name (one to
// 16 characters of an unquoted word, or a quoted string) or a UUID.
// Whether the game minds what follows is not known here.
Acceptance judgeSelector(std::string_view pattern) {
  size_t at = 0;
  if (!pattern.empty() && pattern[0] == '@') {
    if (pattern.size() < 2 || std::string_view("aenprs").find(pattern[1]) == std::string_view::npos) {
      return Acceptance::refused;
    }
    at = 2;
    if (at < pattern.size() && pattern[at] == '[') {
      ++at;
      while (at < pattern.size() && pattern[at] == ' ') ++at;
      if (at < pattern.size() && pattern[at] == ']') return at + 1 == pattern.size() ? Acceptance::accepted : Acceptance::unsure;
      size_t end = at;
      while (end < pattern.size() && isAllowedUnquoted(pattern[end])) ++end;
      static const char* const kOptions[] = {"name", "distance", "level", "x", "y", "z", "dx", "dy", "dz",
                                             "x_rotation", "y_rotation", "limit", "sort", "gamemode", "team",
                                             "type", "tag", "nbt", "scores", "advancements", "predicate"};
      const std::string_view option = pattern.substr(at, end - at);
      bool known = false;
      for (const char* name : kOptions) known |= option == name;
      return end > at && !known ? Acceptance::refused : Acceptance::unsure;
    }
    return at == pattern.size() ? Acceptance::accepted : Acceptance::unsure;
  }
  std::string name;
  if (!pattern.empty() && (pattern[0] == '"' || pattern[0] == '\'')) {
    const char quote = pattern[0];
    for (at = 1;; ++at) {
      if (at == pattern.size()) return Acceptance::refused;  // never closed
      if (pattern[at] == quote) break;
      if (pattern[at] == '\\') {
        if (++at == pattern.size() || (pattern[at] != '\\' && pattern[at] != quote)) return Acceptance::refused;
      }
      name += pattern[at];
    }
    ++at;
  } else {
    while (at < pattern.size() && isAllowedUnquoted(pattern[at])) name += pattern[at++];
  }
  if (!isUuid(name) && (name.empty() || name.size() > 16)) {
    // A quoted name's length is its characters', not its bytes'.
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    if (name.empty() || ascii) return Acceptance::refused;
    return Acceptance::unsure;
  }
  return at == pattern.size() ? Acceptance::accepted : Acceptance::unsure;
}

Acceptance judgeComponent(const Value& value, int dataVersion) {
  // Up to 1.20.4 the game is either of two readers (the codec came in a
  // snapshot of 1.20.3): taken if either takes it.
  if (dataVersion < kComponentsFrom) {
    const Acceptance older = serializer(value, dataVersion);
    return older == Acceptance::accepted ? older : either(older, codec(value, dataVersion));
  }
  return codec(value, dataVersion);
}

}  // namespace books
