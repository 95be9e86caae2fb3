#include "nbt/tag.h"

#include <algorithm>

namespace nbt {

namespace {

// std::string_view compares through char_traits<char>, which orders bytes as
// unsigned values, the order the writer must emit.
bool nameLess(const TagMap::Entry& a, const TagMap::Entry& b) {
  return std::string_view(a.first) < std::string_view(b.first);
}

template <typename Result>
Result* childAs(TAG_Compound* compound, std::string_view name, uint8_t type) {
  if (!compound) return nullptr;
  TAG* child = compound->children.find(name);
  if (!child || child->getType() != type) return nullptr;
  return static_cast<Result*>(child);
}

}  // namespace

TagMap TagMap::fromEntries(std::vector<Entry> entries) {
  TagMap map;
  // Compounds are small: an insertion sort (stable, no scratch memory) beats
  // std::stable_sort until they are not.
  if (entries.size() <= 32) {
    for (size_t i = 1; i < entries.size(); ++i) {
      for (size_t j = i; j > 0 && nameLess(entries[j], entries[j - 1]); --j) std::swap(entries[j], entries[j - 1]);
    }
  } else if (!std::is_sorted(entries.begin(), entries.end(), nameLess)) {
    std::stable_sort(entries.begin(), entries.end(), nameLess);
  }
  // Keep the last of each run of equal names; stable sorting kept input order.
  size_t kept = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 < entries.size() && entries[i].first == entries[i + 1].first) continue;
    if (kept != i) entries[kept] = std::move(entries[i]);
    ++kept;
  }
  entries.resize(kept);
  map.entries_ = std::move(entries);
  return map;
}

TAG* TagMap::find(std::string_view name) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                             [](const Entry& e, std::string_view n) { return std::string_view(e.first) < n; });
  if (it == entries_.end() || it->first != name) return nullptr;
  return it->second.get();
}

void TagMap::put(std::string name, TagPtr tag) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                             [](const Entry& e, const std::string& n) { return std::string_view(e.first) < n; });
  if (it != entries_.end() && it->first == name) {
    it->second = std::move(tag);
  } else {
    entries_.emplace(it, std::move(name), std::move(tag));
  }
}

TAG_Compound* getCompound(TAG_Compound* compound, std::string_view name) {
  return childAs<TAG_Compound>(compound, name, kTagCompound);
}
TAG_List* getList(TAG_Compound* compound, std::string_view name) {
  return childAs<TAG_List>(compound, name, kTagList);
}
TAG_String* getString(TAG_Compound* compound, std::string_view name) {
  return childAs<TAG_String>(compound, name, kTagString);
}
TAG_Int* getInt(TAG_Compound* compound, std::string_view name) {
  return childAs<TAG_Int>(compound, name, kTagInt);
}

TAG_Compound* getCompoundAt(TAG_List* list, int32_t index) {
  if (!list || index < 0 || static_cast<size_t>(index) >= list->elements.size()) return nullptr;
  TAG* element = list->elements[static_cast<size_t>(index)].get();
  if (!element || element->getType() != kTagCompound) return nullptr;
  return static_cast<TAG_Compound*>(element);
}

}  // namespace nbt
