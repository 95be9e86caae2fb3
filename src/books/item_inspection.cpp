#include "books/item_inspection.h"

#include "books/book_repair.h"
#include "console/console.h"

namespace books {

using namespace nbt;

bool checkContainedItems(TAG_List* items, const std::string& location) {
  bool repaired = false;
  const int32_t count = static_cast<int32_t>(items->elements.size());
  for (int32_t i = 0; i < count; ++i) {
    TAG_Compound* item = getCompoundAt(items, i);
    if (!item) {
      printMessage("Warning: contained item missing or malformed!\n");
      continue;
    }
    TAG_String* id = getString(item, "id");
    if (!id) {
      printMessage("Warning: contained item ID missing or malformed!\n");
      continue;
    }
    repaired |= checkContainedItem(item, id->value, location);
  }
  return repaired;
}

bool checkContainedItem(TAG_Compound* item, const std::string& id, const std::string& location) {
  if (id == "minecraft:written_book") return checkWrittenBook(item, location);
  if (id.find("shulker_box") == std::string::npos) return false;

  TAG_Compound* tag = getCompound(item, "tag");
  if (!tag) {
    printMessage("Warning: shulker box%s tag missing or malformed!\n", location.c_str());
    return false;
  }
  TAG_Compound* blockEntity = getCompound(tag, "BlockEntityTag");
  if (!blockEntity) {
    printMessage("Warning: shulker box%s BlockEntityTag missing or malformed!\n", location.c_str());
    return false;
  }
  TAG_List* items = getList(blockEntity, "Items");
  if (!items) return false;
  // Boxes nest no deeper than the reader's nesting limit, which bounds this recursion.
  return checkContainedItems(items, " inside " + id + location);
}

}  // namespace books
