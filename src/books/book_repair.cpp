#include "books/book_repair.h"

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

bool startsLikeJson(std::string_view text) { return !text.empty() && (text[0] == '{' || text[0] == '"'); }

}  // namespace

bool checkWrittenBook(Tag item, const std::string& location, Report& report) {
  Tag tag = getCompound(item, "tag");
  if (!tag) {
    report.addf(Finding::warning, "Warning: written book%s tag missing or malformed!\n", location.c_str());
    return false;
  }
  Tag titleTag = getString(tag, "title");
  if (!titleTag) {
    report.addf(Finding::warning, "Warning: written book%s title missing or malformed!\n", location.c_str());
    return false;
  }
  const std::string title(titleTag.stringValue());
  Tag pages = getList(tag, "pages");
  if (!pages) {
    report.addf(Finding::warning, "Warning: written book%s '%s' pages missing or malformed!\n", location.c_str(),
                title.c_str());
    return false;
  }
  if (pages.elementType() != kTagString) {
    // No element of this list is a page.
    for (uint32_t i = 0; i < pages.count(); ++i) {
      report.addf(Finding::warning, "Warning: written book '%s'%s page %i missing or malformed!\n", title.c_str(),
                  location.c_str(), static_cast<int>(i));
    }
    return false;
  }

  // Decided once, before any page changes: a book with no space anywhere is
  // one whose JSON-looking pages may be damaged text rather than real JSON.
  bool anySpace = false;
  for (Tag page = pages.firstChild(); page && !anySpace; page = page.nextSibling()) {
    anySpace = page.stringValue().find(' ') != std::string_view::npos;
  }

  bool repaired = false;
  int index = 0;
  for (Tag page = pages.firstChild(); page; page = page.nextSibling(), ++index) {
    const std::string_view stored = page.stringValue();
    if (startsLikeJson(stored)) {
      if (!anySpace) {
        report.addf(Finding::mayBeCorrupted, "Book '%s' page %i%s may have been corrupted: '%s'\n", title.c_str(),
                    index, location.c_str(), std::string(stored).c_str());
      }
      continue;
    }
    // Backslashes first, so the ones inserted for quotes and line feeds stay single.
    std::string text(stored);
    replaceAll(text, "\\", "\\\\");
    replaceAll(text, "\"", "\\\"");
    replaceAll(text, "\n", "\\n");
    text.insert(text.begin(), '"');
    text.push_back('"');
    const size_t size = text.size();
    if (!page.tree()->replaceString(page, std::move(text))) {
      // Storing it would make a string the chunk cannot encode; the page stays as it was.
      report.addf(Finding::warning,
                  "Warning: written book '%s'%s page %i not repaired: the repaired text would be %zu bytes, more "
                  "than the %zu a page can hold!\n",
                  title.c_str(), location.c_str(), index, size, kMaxStringBytes);
      continue;
    }
    report.addf(Finding::pageRepaired, "Book '%s'%s page %i repaired\n", title.c_str(), location.c_str(), index);
    repaired = true;
  }
  return repaired;
}

}  // namespace books
