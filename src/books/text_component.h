#pragma once

// Text components as Minecraft 1.21.5 and later store them: in NBT, where
// earlier versions kept a JSON string.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "books/component_rules.h"
#include "books/json.h"

namespace books {

// A tag made from code: its type and its payload in the encoding.
struct Encoded {
  uint8_t type = 0;
  std::string payload;
  bool wrapper = false;  // a compound of exactly one entry, named ""
  bool holdsRaw = false;  // a compound with an entry named "raw"
  int depth = 0;         // lists and compounds it nests, itself included
};

// A list of these elements as the game writes one from 1.21.5: of their
// type when they all have one; else of compounds. In a list of compounds,
// every element that is not a compound, or is a wrapper itself, is wrapped
// in a compound under the name "", as readers unwrap them.
Encoded encodeList(const std::vector<Encoded>& elements);

// The tag the game makes of a page that holds a text component as JSON when
// it upgrades a world to 1.21.5: objects become compounds, arrays lists,
// strings strings, true and false bytes, integral numbers the smallest of
// byte, short, int and long that holds them, other numbers a float where
// one holds them exactly, else a double. Only an object or array, strictly
// JSON, that the game of that DataVersion surely accepts is made one:
// anything else, which it might refuse, and with it the whole book, is none.
bool componentFromJson(std::string_view text, int dataVersion, Encoded& out);

}  // namespace books
