#include "books/book_repair.h"

#include <vector>

#include "books/json.h"
#include "books/text_component.h"

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

// How a book's pages are stored, by its layout and the DataVersion.
enum class PageForm {
  legacy,     // "tag.pages", up to 1.20.4: JSON strings, judged by their first character
  jsonText,   // components, 1.20.5 to 1.21.4: JSON strings, read strictly by the game
  component,  // components, 1.21.5 on: text components as NBT; a string is literal text
};

// One page: the text every player sees, and the one shown to players who
// filter text, if the page has one (none for a page in the plain form).
struct Page {
  Tag raw, filtered;
  Tag element;  // the list's element that holds the page
  bool malformed = false;
};

// One JSON string, object or array, read in that mode.
bool isJsonText(std::string_view text, json::Mode mode) {
  json::Value::Kind kind = json::Value::null;
  return json::parse(text, nullptr, &kind, mode) != json::Verdict::notJson &&
         (kind == json::Value::string || kind == json::Value::object || kind == json::Value::array);
}

// Pages up to 1.20.4 worth a word when no page of the book has a space:
// those that begin with { or ", and those that are JSON text strictly.
bool looksLikeJson(std::string_view text) {
  return (!text.empty() && (text[0] == '{' || text[0] == '"')) || isJsonText(text, json::Mode::strict);
}
// Of the pages 1.20.5 to 1.21.4 read, those worth such a word (a single
// word is not).
bool isStrictJson(std::string_view text) { return isJsonText(text, json::Mode::strict); }

// The last DataVersion whose pages are JSON text (1.21.4): what the game
// of any version from 1.20.5 up to it drops, it drops.
constexpr int kLastJsonPages = kTextComponentsFrom - 1;

// A page as the game's reader takes it, and how the game of a version takes that.
struct Reading {
  json::Verdict verdict = json::Verdict::notJson;
  json::Value::Kind kind = json::Value::null;
  json::Value value;

  explicit Reading(std::string_view text) { verdict = json::parse(text, &value, &kind, json::Mode::lenient); }

  // Whether a game of that version drops the page (sure only where the
  // component's rules are judged).
  Acceptance kept(int version) const {
    if (verdict == json::Verdict::notJson || kind == json::Value::null) return Acceptance::refused;
    if (verdict == json::Verdict::tooDeep) return Acceptance::unsure;
    return judgeComponent(value, version);
  }
  bool dropped(int version) const { return kept(version) == Acceptance::refused; }
};

// Whether a page up to 1.20.4 is shown as a component: read as an object
// or an array, or as a string other than the page's own text (after a
// comment, say); a page that is not shows its text as it is, and quoting
// it changes nothing a reader sees.
bool shownAsComponent(const Reading& page, std::string_view text, int version) {
  if (page.dropped(version)) return false;
  return page.kind == json::Value::object || page.kind == json::Value::array ||
         (page.kind == json::Value::string && page.value.text != text);
}

// Java's length of a modified UTF-8 text: its UTF-16 code units, one for
// each byte that does not continue a character.
size_t units(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// The first `most` code units of a title, a pair of surrogates kept whole.
std::string shortened(std::string_view text, size_t most) {
  size_t at = 0, n = 0, last = 0;
  for (; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
    if (n == most) break;
    last = at;
    ++n;
  }
  // A high surrogate (ED A0..AF) whose low half (ED B0..BF) is cut off goes too.
  auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  if (at < text.size() && byte(last) == 0xED && (byte(last + 1) & 0xF0) == 0xA0 && byte(at) == 0xED &&
      (byte(at + 1) & 0xF0) == 0xB0) {
    at = last;
  }
  return std::string(text.substr(0, at));
}

constexpr size_t kMostTitleUnits = 32;    // a title from 1.20.5 on
constexpr long long kMostPageUnits = 32767;  // a page of JSON text from 1.20.5 on

// A page's component in the {raw} form: a compound holding "raw" is read as
// that form, so a component with a field of that name goes in one.
Encoded inRaw(Encoded component) {
  Encoded page;
  page.type = kTagCompound;
  page.payload += static_cast<char>(component.type);
  page.payload += std::string("\0\3raw", 5);
  page.payload += component.payload;
  page.payload += static_cast<char>(kTagEnd);
  page.depth = component.depth + 1;
  return page;
}

bool isWrapper(Tag compound) {
  Tag only = compound.firstChild();
  return only && !only.nextSibling() && only.name().empty();
}

// The pages of a book, each as the game reads it in that form.
std::vector<Page> pagesOf(Tag pages, PageForm form) {
  std::vector<Page> out(pages.count());
  const uint8_t type = pages.elementType();
  // Numbers and TAG_End have no tags of their own: no element is a page.
  const bool readable = type == kTagString || (form != PageForm::legacy && type == kTagCompound) ||
                        (form == PageForm::component && type == kTagList);
  if (!readable) {
    for (Page& page : out) page.malformed = true;
    return out;
  }
  size_t i = 0;
  for (Tag element = pages.firstChild(); element && i < out.size(); element = element.nextSibling(), ++i) {
    Page& page = out[i];
    page.element = element;
    if (type == kTagString) {
      page.raw = element;
    } else if (type == kTagCompound && getTag(element, "raw")) {
      page.raw = getTag(element, "raw");
      page.filtered = getTag(element, "filtered");
    } else if (form == PageForm::component && type == kTagCompound && isWrapper(element)) {
      page.raw = element.firstChild();  // an element of a list of several types
    }
    // From 1.21.5 any tag is a text component; before, a page is text.
    page.malformed = form == PageForm::jsonText &&
                     (page.raw.type() != kTagString || (page.filtered && page.filtered.type() != kTagString));
  }
  return out;
}

class BookCheck {
 public:
  BookCheck(Inspection& in, const Spot& spot, std::string_view title) : in_(in), spot_(spot), title_(title) {}

  void malformed(int index) { add(Kind::warning, Subject::pageMalformed, index); }
  void mayBeCorrupted(int index, std::string_view text) {
    Finding finding = about(index);
    finding.text = text;
    in_.add(Kind::corrupted, Subject::pageMayBeCorrupted, spot_, std::move(finding));
  }
  void repaired(int index) { add(Kind::repaired, Subject::pageRepaired, index); }

  // The text of `page` as a JSON string literal: backslashes first, so the
  // ones inserted for quotes and line feeds stay single. False, with a
  // warning, where the result would not fit in a string.
  bool quote(Tag page, int index) {
    std::string text(page.stringValue());
    replaceAll(text, "\\", "\\\\");
    replaceAll(text, "\"", "\\\"");
    replaceAll(text, "\n", "\\n");
    text.insert(text.begin(), '"');
    text.push_back('"');
    if (page.tree()->replaceString(page, text)) return true;
    Finding finding = about(index);
    finding.value = static_cast<long long>(text.size());
    finding.limit = static_cast<long long>(kMaxStringBytes);
    in_.add(Kind::warning, Subject::pageTooLong, spot_, std::move(finding));
    return false;
  }

  // Pages of JSON strings: a page the game would not show as it is meant
  // becomes a JSON string literal of its text. Up to 1.20.4 a page that
  // begins with { or " is left, as is one the game shows as a component;
  // from 1.20.5 a text is repaired exactly when the game drops it. With
  // --upgrade, also what any version up to 1.21.4 would drop.
  bool jsonPages(const std::vector<Page>& pages, PageForm form) {
    const int version = in_.dataVersion();
    // Decided once, before any page changes: a book with no space anywhere is
    // one whose JSON-looking pages may be damaged text rather than real JSON.
    bool anySpace = false;
    for (const Page& page : pages) {
      anySpace |= page.raw.type() == kTagString && page.raw.stringValue().find(' ') != std::string_view::npos;
    }
    auto repairs = [&](std::string_view text) {
      const bool braced = form == PageForm::legacy && !text.empty() && (text[0] == '{' || text[0] == '"');
      if (braced && !in_.upgrade) return false;  // read no further, as always
      const Reading reading(text);
      bool left = form == PageForm::legacy ? braced || shownAsComponent(reading, text, version) : !reading.dropped(version);
      if (left && in_.upgrade && reading.dropped(kLastJsonPages)) left = false;
      return !left;
    };
    const auto worthAWord = form == PageForm::legacy ? looksLikeJson : isStrictJson;
    bool repairedAny = false;
    for (size_t i = 0; i < pages.size(); ++i) {
      const Page& page = pages[i];
      const int index = static_cast<int>(i);
      if (page.malformed || page.raw.type() != kTagString) {
        malformed(index);
        continue;
      }
      const bool rawRepairs = repairs(page.raw.stringValue());
      bool changed = rawRepairs && quote(page.raw, index);
      if (page.filtered && repairs(page.filtered.stringValue())) changed |= quote(page.filtered, index);
      if (!rawRepairs && !anySpace && worthAWord(page.raw.stringValue())) mayBeCorrupted(index, page.raw.stringValue());
      if (changed) repaired(index);
      repairedAny |= changed;
      if (!in_.upgrade) continue;
      for (Tag text : {page.raw, page.filtered}) {
        const long long length = text ? static_cast<long long>(units(text.stringValue())) : 0;
        if (length <= kMostPageUnits) continue;
        Finding finding = about(index);
        finding.value = length;
        finding.limit = kMostPageUnits;
        in_.add(Kind::warning, Subject::pageTooLongLater, spot_, std::move(finding));
        break;
      }
    }
    return repairedAny;
  }

  // With --upgrade: a title the game from 1.20.5 on refuses, and with it the
  // book, is cut to what it keeps; a generation it refuses is told.
  bool upgradeTitle(Tag title, bool filtered) {
    if (title.type() != kTagString || units(title.stringValue()) <= kMostTitleUnits) return false;
    const std::string cut = shortened(title.stringValue(), kMostTitleUnits);
    Finding finding = about(-1);
    finding.text = cut;
    finding.value = filtered ? 1 : 0;
    if (!title.tree()->replaceString(title, cut)) return false;
    in_.add(Kind::repaired, Subject::titleShortened, spot_, std::move(finding));
    return true;
  }
  void upgradeGeneration(Tag generation) {
    if (!generation || (generation.numberAsInt() >= 0 && generation.numberAsInt() <= 3)) return;
    Finding finding = about(-1);
    finding.value = generation.numberAsInt();
    in_.add(Kind::warning, Subject::generationInvalid, spot_, std::move(finding));
  }

  // Pages of text components: a string that holds a component as JSON
  // (written after the upgrade by something that still wrote JSON) becomes
  // that component. Every other page is what it shows.
  bool componentPages(Tag list, const std::vector<Page>& pages) {
    // A string element of a list of strings cannot become a compound on its
    // own: the list is made afresh, the others kept as they are.
    std::vector<Encoded> elements;
    bool remade = false, repairedAny = false;
    Tree& tree = *list.tree();
    for (size_t i = 0; i < pages.size(); ++i) {
      const Page& page = pages[i];
      const int index = static_cast<int>(i);
      if (page.malformed) {
        malformed(index);
        continue;
      }
      bool changed = false;
      for (Tag text : {page.raw, page.filtered}) {
        Encoded component;
        if (text.type() != kTagString || !componentFromJson(text.stringValue(), in_.dataVersion(), component)) continue;
        const bool element = list.elementType() == kTagString;
        if (element && component.holdsRaw) component = inRaw(std::move(component));
        // The compound or list that will hold it, and how deep that lies.
        const int depth = element ? tree.depthOf(list) + 1 + component.depth : tree.depthOf(page.element) + component.depth;
        if (depth > kMaxDepth) {
          Finding finding = about(index);
          finding.limit = kMaxDepth;
          in_.add(Kind::warning, Subject::pageTooDeep, spot_, std::move(finding));
          continue;
        }
        if (element) {
          elements.resize(pages.size());
          elements[i] = std::move(component);
          remade = changed = true;
        } else {
          changed |= tree.replaceTag(text, component.type, std::move(component.payload));
        }
      }
      if (changed) repaired(index);
      repairedAny |= changed;
    }
    if (remade) {
      for (size_t i = 0; i < pages.size(); ++i) {
        if (elements[i].type != kTagEnd) continue;
        elements[i].type = kTagString;
        elements[i].payload.assign(reinterpret_cast<const char*>(pages[i].raw.payload()), pages[i].raw.payloadSize());
      }
      tree.replaceTag(list, kTagList, encodeList(elements).payload);
    }
    return repairedAny;
  }

 private:
  Finding about(int index) const {
    Finding finding;
    finding.hasTitle = true;
    finding.title = title_;
    finding.page = index;
    return finding;
  }
  void add(Kind kind, Subject subject, int index) { in_.add(kind, subject, spot_, about(index)); }

  Inspection& in_;
  const Spot& spot_;
  const std::string_view title_;
};

}  // namespace

bool checkWrittenBook(Tag item, const Spot& spot, Inspection& in) {
  in.findings.bookExamined();
  Tag components = getCompound(item, "components");
  Tag content = components ? getCompound(components, "minecraft:written_book_content") : getCompound(item, "tag");
  if (!content) {
    in.add(Kind::warning, Subject::bookTagMissing, spot);
    return false;
  }
  // A component's title is {raw, filtered?} or a bare string; plain text either way.
  Tag title = getTag(content, "title");
  if (components && title.type() == kTagCompound) title = getTag(title, "raw");
  if (title.type() != kTagString) {
    in.add(Kind::warning, Subject::bookTitleMissing, spot);
    return false;
  }
  Tag pages = getList(content, "pages");
  if (!pages) {
    Finding finding;
    finding.hasTitle = true;
    finding.title = title.stringValue();
    in.add(Kind::warning, Subject::bookPagesMissing, spot, std::move(finding));
    return false;
  }
  const PageForm form = !components                            ? PageForm::legacy
                        : in.dataVersion() >= kTextComponentsFrom ? PageForm::component
                                                                : PageForm::jsonText;
  // The title as stored names the book in what its pages' checks find.
  const std::string stored(title.stringValue());
  BookCheck check(in, spot, stored);
  const std::vector<Page> list = pagesOf(pages, form);
  bool changed = form == PageForm::component ? check.componentPages(pages, list) : check.jsonPages(list, form);
  if (in.upgrade) {
    check.upgradeGeneration(getNumber(content, "generation"));
    changed |= check.upgradeTitle(title, false);
    Tag whole = getTag(content, "title");
    if (components && whole.type() == kTagCompound) changed |= check.upgradeTitle(getTag(whole, "filtered"), true);
    // Up to 1.20.4 the filtered title lies beside the title; 1.20.5 makes it title.filtered.
    if (!components) changed |= check.upgradeTitle(getTag(content, "filtered_title"), true);
  }
  return changed;
}

}  // namespace books
