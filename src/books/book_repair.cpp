#include "books/book_repair.h"

#include "console/console.h"
#include "nbt/writer.h"

namespace books {

using namespace nbt;

// Builds the result in one pass: replacing in place would move the rest of
// the text once per occurrence, which a long page of quotes makes quadratic.
void replaceAll(std::string& text, std::string_view search, std::string_view replacement) {
  size_t at = text.find(search);
  if (search.empty() || at == std::string::npos) return;
  std::string result;
  result.reserve(text.size() + replacement.size());
  size_t from = 0;
  for (; at != std::string::npos; at = text.find(search, from)) {
    result.append(text, from, at - from).append(replacement);
    from = at + search.size();
  }
  result.append(text, from, std::string::npos);
  text = std::move(result);
}

namespace {

TAG_String* pageAt(TAG_List& pages, size_t i) {
  TAG* page = pages.elements[i].get();
  return page && page->getType() == kTagString ? static_cast<TAG_String*>(page) : nullptr;
}

bool startsLikeJson(const std::string& text) { return !text.empty() && (text[0] == '{' || text[0] == '"'); }

}  // namespace

bool checkWrittenBook(TAG_Compound* item, const std::string& location) {
  TAG_Compound* tag = getCompound(item, "tag");
  if (!tag) {
    printMessage("Warning: written book%s tag missing or malformed!\n", location.c_str());
    return false;
  }
  TAG_String* titleTag = getString(tag, "title");
  if (!titleTag) {
    printMessage("Warning: written book%s title missing or malformed!\n", location.c_str());
    return false;
  }
  const std::string title = titleTag->value;
  TAG_List* pages = getList(tag, "pages");
  if (!pages) {
    printMessage("Warning: written book%s '%s' pages missing or malformed!\n", location.c_str(), title.c_str());
    return false;
  }

  // Decided once, before any page changes: a book with no space anywhere is
  // one whose JSON-looking pages may be damaged text rather than real JSON.
  bool anySpace = false;
  for (size_t i = 0; i < pages->elements.size() && !anySpace; ++i) {
    const TAG_String* page = pageAt(*pages, i);
    anySpace = page && page->value.find(' ') != std::string::npos;
  }

  bool repaired = false;
  for (size_t i = 0; i < pages->elements.size(); ++i) {
    const int index = static_cast<int>(i);
    TAG_String* page = pageAt(*pages, i);
    if (!page) {
      printMessage("Warning: written book '%s'%s page %i missing or malformed!\n", title.c_str(), location.c_str(),
                   index);
      continue;
    }
    if (startsLikeJson(page->value)) {
      if (!anySpace) {
        printMessage("Book '%s' page %i%s may have been corrupted: '%s'\n", title.c_str(), index, location.c_str(),
                     page->value.c_str());
      }
      continue;
    }
    // Backslashes first, so the ones inserted for quotes and line feeds stay single.
    std::string text = page->value;
    replaceAll(text, "\\", "\\\\");
    replaceAll(text, "\"", "\\\"");
    replaceAll(text, "\n", "\\n");
    text.insert(text.begin(), '"');
    text.push_back('"');
    if (text.size() > kMaxStringBytes) {
      // Storing it would make a string the chunk cannot encode; the page stays as it was.
      printMessage("Warning: written book '%s'%s page %i not repaired: the repaired text would be %zu bytes, more "
                   "than the %zu a page can hold!\n",
                   title.c_str(), location.c_str(), index, text.size(), kMaxStringBytes);
      continue;
    }
    page->value = std::move(text);
    printMessage("Book '%s'%s page %i repaired\n", title.c_str(), location.c_str(), index);
    repaired = true;
  }
  return repaired;
}

}  // namespace books
