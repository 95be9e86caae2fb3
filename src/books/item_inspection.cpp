#include "books/item_inspection.h"

#include "books/book_repair.h"

namespace books {

using namespace nbt;

bool checkContainedItems(Tag items, const std::string& location, Report& report) {
  if (items.elementType() != kTagCompound) {
    // No element of this list is an item compound.
    for (uint32_t i = 0; i < items.count(); ++i) {
      report.add(Finding::warning, "Warning: contained item missing or malformed!\n");
    }
    return false;
  }
  bool repaired = false;
  for (Tag item = items.firstChild(); item; item = item.nextSibling()) {
    Tag id = getString(item, "id");
    if (!id) {
      report.add(Finding::warning, "Warning: contained item ID missing or malformed!\n");
      continue;
    }
    repaired |= checkContainedItem(item, id.stringValue(), location, report);
  }
  return repaired;
}

bool checkContainedItem(Tag item, std::string_view id, const std::string& location, Report& report) {
  if (id == "minecraft:written_book") return checkWrittenBook(item, location, report);
  if (id.find("shulker_box") == std::string_view::npos) return false;

  Tag tag = getCompound(item, "tag");
  if (!tag) {
    report.addf(Finding::warning, "Warning: shulker box%s tag missing or malformed!\n", location.c_str());
    return false;
  }
  Tag blockEntity = getCompound(tag, "BlockEntityTag");
  if (!blockEntity) {
    report.addf(Finding::warning, "Warning: shulker box%s BlockEntityTag missing or malformed!\n", location.c_str());
    return false;
  }
  Tag items = getList(blockEntity, "Items");
  if (!items) return false;
  // Boxes nest no deeper than the reader's nesting limit, which bounds this recursion.
  return checkContainedItems(items, " inside " + std::string(id) + location, report);
}

}  // namespace books
