#pragma once

// Text components as Minecraft 1.21.5 and later store them: in NBT, where
// earlier versions kept a JSON string.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace books {

// A tag made from code: its type and its payload in the encoding.
struct Encoded {
  uint8_t type = 0;
  std::string payload;
  bool wrapper = false;  // a compound of exactly one entry, named ""
};

// A list of these elements as the game writes one: of their type when they
// all have one, else of compounds, each element that is not a compound (or
// is a wrapper itself) wrapped in a compound under the name "", as readers
// from 1.21.5 on unwrap them.
Encoded encodeList(const std::vector<Encoded>& elements);

// Whether `text` is JSON the game takes for a text component (an object
// with "text", "translate", "score", "selector", "keybind" or "nbt", or an
// array of strings and such objects) and, if so, the tag the game itself
// makes of it when it upgrades a world to 1.21.5: objects become compounds,
// arrays lists, strings strings, true and false bytes, integral numbers the
// smallest of byte, short, int and long that holds them, other numbers a
// float where one holds them exactly, else a double. A component holding a
// null, which no tag can stand for, is none.
bool componentFromJson(std::string_view text, Encoded& out);

}  // namespace books
