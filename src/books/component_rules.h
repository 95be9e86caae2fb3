#pragma once

// Whether the game takes a JSON value as a text component: its codec's rules
// (1.20.3 on) and its older reader's (up to 1.20.2), by the DataVersion of
// the chunk that holds the page, and from 1.21.2 its selector parser's.

#include <string_view>

#include "books/json.h"

namespace books {

// How the game of a DataVersion takes a JSON value as a text component.
// Unsure where this does not judge the rules (events, a content type named
// outright, a selector's options...): such a page is neither changed as
// refused nor made a component as accepted.
enum class Acceptance { accepted, refused, unsure };
Acceptance judgeComponent(const json::Value& value, int dataVersion);

// How the game's entity selector parser takes a component's selector, as
// it does from 1.21.2 (kSelectorsParsedFrom).
Acceptance judgeSelector(std::string_view pattern);

}  // namespace books
