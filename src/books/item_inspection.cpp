#include "books/item_inspection.h"

#include <algorithm>

#include "books/book_repair.h"

namespace books {

using namespace nbt;

namespace {

bool isItem(Tag compound) {
  return getString(compound, "id") && (getTag(compound, "count") || getTag(compound, "Count"));
}

// From 1.20.5 an item keeps what it holds in its components: a shulker box
// (or any container) a list of {slot, item}, a bundle a list of items.
bool openComponents(Tag item, Tag components, const Spot& spot, Inspection& in) {
  Tag container = getList(components, "minecraft:container");
  Tag bundle = getList(components, "minecraft:bundle_contents");
  if (!container && !bundle && !in.everywhere) return false;
  const Spot within = spot.inside(item);
  bool repaired = false;
  if (container) {
    if (container.elementType() != kTagCompound) {
      for (uint32_t i = 0; i < container.count(); ++i) {
        in.warn(Subject::itemMissing);
      }
    }
    for (Tag slot = container.elementType() == kTagCompound ? container.firstChild() : Tag(); slot;
         slot = slot.nextSibling()) {
      Tag contained = getCompound(slot, "item");
      if (!contained) {
        in.warn(Subject::itemMissing);
      } else if (Tag id = getString(contained, "id")) {
        repaired |= checkContainedItem(contained, id.stringValue(), within, in);
      } else {
        in.warn(Subject::itemIdMissing);
      }
    }
  }
  if (bundle) repaired |= checkContainedItems(bundle, within, in);
  if (in.everywhere) {
    repaired |= searchItems(components, {"minecraft:container", "minecraft:bundle_contents"}, within, in);
  }
  return repaired;
}

}  // namespace

bool checkContainedItems(Tag items, const Spot& spot, Inspection& in) {
  if (items.elementType() != kTagCompound) {
    // No element of this list is an item compound.
    for (uint32_t i = 0; i < items.count(); ++i) {
      in.warn(Subject::itemMissing);
    }
    return false;
  }
  bool repaired = false;
  for (Tag item = items.firstChild(); item; item = item.nextSibling()) {
    Tag id = getString(item, "id");
    if (!id) {
      in.warn(Subject::itemIdMissing);
      continue;
    }
    repaired |= checkContainedItem(item, id.stringValue(), spot, in);
  }
  return repaired;
}

bool checkContainedItem(Tag item, std::string_view id, const Spot& spot, Inspection& in) {
  if (id == "minecraft:written_book") {
    bool repaired = checkWrittenBook(item, spot, in);
    if (in.everywhere) {
      // Whatever else a book holds (a plugin's data, say), but its own pages.
      const Spot within = spot.inside(item);
      if (Tag components = getCompound(item, "components")) {
        repaired |= searchItems(components, {"minecraft:written_book_content"}, within, in);
      } else {
        repaired |= searchItems(getCompound(item, "tag"), {"pages"}, within, in);
      }
    }
    return repaired;
  }
  const bool box = id.find("shulker_box") != std::string_view::npos;
  const bool bundle = id == "minecraft:bundle";
  // Before 1.20.5 only a shulker box or a bundle holds items that a run
  // looks at without --everywhere; most items are neither, and cost nothing more.
  if (!box && !bundle && !in.everywhere && in.dataVersion() < kComponentsFrom) return false;
  if (Tag components = getCompound(item, "components")) return openComponents(item, components, spot, in);

  Tag tag = getCompound(item, "tag");
  // From 1.20.5 an item whose components are all as its kind has them (an
  // empty shulker box) has none written at all.
  if (!tag && in.dataVersion() >= kComponentsFrom) return false;
  Tag contents;  // a shulker box's items
  if (box) {
    if (!tag) {
      in.add(Kind::warning, Subject::shulkerTagMissing, spot);
      return false;
    }
    Tag blockEntity = getCompound(tag, "BlockEntityTag");
    if (!blockEntity) {
      in.add(Kind::warning, Subject::shulkerBlockEntityMissing, spot);
      return false;
    }
    contents = getList(blockEntity, "Items");
  } else if (bundle && tag) {
    contents = getList(tag, "Items");  // an empty bundle has none
  }
  if (!contents && !(in.everywhere && tag)) return false;
  const Spot within = spot.inside(item);
  // Boxes nest no deeper than the reader's nesting limit, which bounds this recursion.
  bool repaired = contents && checkContainedItems(contents, within, in);
  if (in.everywhere && contents && bundle) {
    repaired |= searchItems(tag, {"Items"}, within, in);  // all of the tag but the items inspected above
  } else if (in.everywhere && contents) {
    repaired |= searchItems(tag, {"BlockEntityTag"}, within, in);
    repaired |= searchItems(getCompound(tag, "BlockEntityTag"), {"Items"}, within, in);
  } else if (in.everywhere) {
    repaired |= searchItems(tag, {}, within, in);
  }
  return repaired;
}

bool checkItem(Tag item, const Spot& spot, Inspection& in) {
  Tag id = getString(item, "id");
  if (!id) {
    in.warn(Subject::itemIdMissing);
    return false;
  }
  return checkContainedItem(item, id.stringValue(), spot, in);
}

bool checkSlots(Tag items, const Spot& spot, Inspection& in) {
  if (items.elementType() != kTagCompound) return checkContainedItems(items, spot, in);  // says what is wrong
  bool repaired = false;
  for (Tag item = items.firstChild(); item; item = item.nextSibling()) {
    if (item.firstChild()) repaired |= checkItem(item, spot, in);
  }
  return repaired;
}

bool searchItems(Tag holder, std::initializer_list<std::string_view> skip, const Spot& spot, Inspection& in) {
  bool repaired = false;
  for (Tag child = holder.firstChild(); child; child = child.nextSibling()) {
    if (skip.size() > 0 && std::find(skip.begin(), skip.end(), child.name()) != skip.end()) continue;
    if (child.type() == kTagCompound && isItem(child)) {
      repaired |= checkContainedItem(child, getString(child, "id").stringValue(), spot, in);
    } else if (child.type() == kTagCompound || child.type() == kTagList) {
      // As deep as the reader's nesting limit allows, which bounds this recursion.
      repaired |= searchItems(child, {}, spot, in);
    }
  }
  return repaired;
}

}  // namespace books
