#include "books/item_inspection.h"

#include <algorithm>

#include "books/book_repair.h"

namespace books {

using namespace nbt;

namespace {

std::string inside(Tag item, const std::string& outer) {
  return " inside " + std::string(getString(item, "id").stringValue()) + outer;
}

bool isItem(Tag compound) {
  return getString(compound, "id") && (getTag(compound, "count") || getTag(compound, "Count"));
}

// From 1.20.5 an item keeps what it holds in its components: a shulker box
// (or any container) a list of {slot, item}, a bundle a list of items.
bool openComponents(Tag item, Tag components, const std::string& location, Inspection& in) {
  Tag container = getList(components, "minecraft:container");
  Tag bundle = getList(components, "minecraft:bundle_contents");
  if (!container && !bundle && !in.everywhere) return false;
  LazyLocation within(inside, item, location);
  bool repaired = false;
  if (container) {
    if (container.elementType() != kTagCompound) {
      for (uint32_t i = 0; i < container.count(); ++i) {
        in.report.add(Finding::warning, "Warning: contained item missing or malformed!\n");
      }
    }
    for (Tag slot = container.elementType() == kTagCompound ? container.firstChild() : Tag(); slot;
         slot = slot.nextSibling()) {
      Tag contained = getCompound(slot, "item");
      if (!contained) {
        in.report.add(Finding::warning, "Warning: contained item missing or malformed!\n");
      } else if (Tag id = getString(contained, "id")) {
        repaired |= checkContainedItem(contained, id.stringValue(), within.text(), in);
      } else {
        in.report.add(Finding::warning, "Warning: contained item ID missing or malformed!\n");
      }
    }
  }
  if (bundle) repaired |= checkContainedItems(bundle, within.text(), in);
  if (in.everywhere) {
    repaired |= searchItems(components, {"minecraft:container", "minecraft:bundle_contents"}, within, in);
  }
  return repaired;
}

}  // namespace

bool checkContainedItems(Tag items, const std::string& location, Inspection& in) {
  if (items.elementType() != kTagCompound) {
    // No element of this list is an item compound.
    for (uint32_t i = 0; i < items.count(); ++i) {
      in.report.add(Finding::warning, "Warning: contained item missing or malformed!\n");
    }
    return false;
  }
  bool repaired = false;
  for (Tag item = items.firstChild(); item; item = item.nextSibling()) {
    Tag id = getString(item, "id");
    if (!id) {
      in.report.add(Finding::warning, "Warning: contained item ID missing or malformed!\n");
      continue;
    }
    repaired |= checkContainedItem(item, id.stringValue(), location, in);
  }
  return repaired;
}

bool checkContainedItem(Tag item, std::string_view id, const std::string& location, Inspection& in) {
  if (id == "minecraft:written_book") {
    bool repaired = checkWrittenBook(item, location, in);
    if (in.everywhere) {
      // Whatever else a book holds (a plugin's data, say), but its own pages.
      LazyLocation within(inside, item, location);
      if (Tag components = getCompound(item, "components")) {
        repaired |= searchItems(components, {"minecraft:written_book_content"}, within, in);
      } else {
        repaired |= searchItems(getCompound(item, "tag"), {"pages"}, within, in);
      }
    }
    return repaired;
  }
  const bool box = id.find("shulker_box") != std::string_view::npos;
  // Before 1.20.5 only a shulker box holds items that a run looks at
  // without --everywhere; most items are neither, and cost nothing more.
  if (!box && !in.everywhere && in.dataVersion() < kComponentsFrom) return false;
  if (Tag components = getCompound(item, "components")) return openComponents(item, components, location, in);

  Tag tag = getCompound(item, "tag");
  // From 1.20.5 an item whose components are all as its kind has them (an
  // empty shulker box) has none written at all.
  if (!tag && in.dataVersion() >= kComponentsFrom) return false;
  Tag contents;  // a shulker box's items
  if (box) {
    if (!tag) {
      in.report.addf(Finding::warning, "Warning: shulker box%s tag missing or malformed!\n", shown(location).c_str());
      return false;
    }
    Tag blockEntity = getCompound(tag, "BlockEntityTag");
    if (!blockEntity) {
      in.report.addf(Finding::warning, "Warning: shulker box%s BlockEntityTag missing or malformed!\n",
                     shown(location).c_str());
      return false;
    }
    contents = getList(blockEntity, "Items");
  }
  if (!contents && !(in.everywhere && tag)) return false;
  LazyLocation within(inside, item, location);
  // Boxes nest no deeper than the reader's nesting limit, which bounds this recursion.
  bool repaired = contents && checkContainedItems(contents, within.text(), in);
  if (in.everywhere && contents) {
    // All of the item's tag but the box's items, inspected above.
    repaired |= searchItems(tag, {"BlockEntityTag"}, within, in);
    repaired |= searchItems(getCompound(tag, "BlockEntityTag"), {"Items"}, within, in);
  } else if (in.everywhere) {
    repaired |= searchItems(tag, {}, within, in);
  }
  return repaired;
}

bool checkItem(Tag item, const std::string& location, Inspection& in) {
  Tag id = getString(item, "id");
  if (!id) {
    in.report.add(Finding::warning, "Warning: contained item ID missing or malformed!\n");
    return false;
  }
  return checkContainedItem(item, id.stringValue(), location, in);
}

bool checkSlots(Tag items, const std::string& location, Inspection& in) {
  if (items.elementType() != kTagCompound) return checkContainedItems(items, location, in);  // says what is wrong
  bool repaired = false;
  for (Tag item = items.firstChild(); item; item = item.nextSibling()) {
    if (item.firstChild()) repaired |= checkItem(item, location, in);
  }
  return repaired;
}

bool searchItems(Tag holder, std::initializer_list<std::string_view> skip, LazyLocation& location, Inspection& in) {
  bool repaired = false;
  for (Tag child = holder.firstChild(); child; child = child.nextSibling()) {
    if (skip.size() > 0 && std::find(skip.begin(), skip.end(), child.name()) != skip.end()) continue;
    if (child.type() == kTagCompound && isItem(child)) {
      repaired |= checkContainedItem(child, getString(child, "id").stringValue(), location.text(), in);
    } else if (child.type() == kTagCompound || child.type() == kTagList) {
      // As deep as the reader's nesting limit allows, which bounds this recursion.
      repaired |= searchItems(child, {}, location, in);
    }
  }
  return repaired;
}

}  // namespace books
