// Finding written books in a region and reporting them, through the real binary.
#include <gtest/gtest.h>

#include <functional>

#include "support/run.h"

using namespace testing_support;

namespace {

const std::string kNothing = "No fixable problems found in 'REGION'.\n";
const Bytes kPlainBook = writtenBook("T", {"plain"});

std::string outputFor(const std::vector<Bytes>& tileEntities, const std::vector<Bytes>& entities = {}) {
  return runOnRegion(RegionBuilder().chunk(0, 0, chunkWith(tileEntities, entities)).build()).output;
}

Bytes blockEntity(const std::function<void(Bytes&)>& fields, const std::vector<Bytes>& items) {
  Bytes b;
  fields(b);
  b.named(9, "Items").raw(compoundList(items).data()).end();
  return b;
}

Bytes frame(const std::function<void(Bytes&)>& fields) {
  Bytes b;
  fields(b);
  return b.end();
}

TEST(Locations, BlockEntitiesAreNamedByIdAndPosition) {
  EXPECT_EQ(outputFor({container("minecraft:chest", 10, 64, -3, {kPlainBook})}),
            "Book 'T' in minecraft:chest at 10,64,-3 page 0 repaired\n");
  // A coordinate of another type drops the whole position.
  EXPECT_EQ(outputFor({blockEntity(
                [](Bytes& b) { b.stringEntry("id", "minecraft:barrel").intEntry("x", 1).intEntry("y", 2).named(2, "z").u16(3); },
                {kPlainBook})}),
            "Book 'T' in minecraft:barrel page 0 repaired\n");
  EXPECT_EQ(outputFor({blockEntity([](Bytes& b) { b.intEntry("x", -1).intEntry("y", 0).intEntry("z", 2147483647); },
                                   {kPlainBook})}),
            "Book 'T' at -1,0,2147483647 page 0 repaired\n");
  EXPECT_EQ(outputFor({blockEntity([](Bytes&) {}, {kPlainBook})}), "Book 'T' page 0 repaired\n");
}

TEST(Locations, FramedItemsAreNamedByWhatTheyShow) {
  EXPECT_EQ(outputFor({}, {itemFrame(5, 70, -8, kPlainBook)}),
            "Book 'T' in minecraft:written_book at 5,70,-8 page 0 repaired\n");
  EXPECT_EQ(outputFor({}, {frame([](Bytes& b) {
                              b.stringEntry("id", "minecraft:item_frame").intEntry("TileX", 5).intEntry("TileZ", 6);
                              b.compoundEntry("Item").raw(kPlainBook.data());
                            })}),
            "Book 'T' in minecraft:written_book page 0 repaired\n");
  // The box's id appears twice: once for "inside", once as what the frame shows.
  EXPECT_EQ(outputFor({}, {itemFrame(1, 2, 3, shulkerBox("minecraft:shulker_box", {kPlainBook}))}),
            "Book 'T' inside minecraft:shulker_box in minecraft:shulker_box at 1,2,3 page 0 repaired\n");
}

TEST(Locations, NestedShulkerBoxesNameTheInnerBoxFirst) {
  Bytes inner = shulkerBox("minecraft:blue_shulker_box", {writtenBook("Deep", {"x"})});
  Bytes outer = shulkerBox("minecraft:red_shulker_box", {writtenBook("Shallow", {"y"}), inner});
  EXPECT_EQ(outputFor({container("minecraft:chest", 0, 5, 0, {outer})}),
            "Book 'Shallow' inside minecraft:red_shulker_box in minecraft:chest at 0,5,0 page 0 repaired\n"
            "Book 'Deep' inside minecraft:blue_shulker_box inside minecraft:red_shulker_box in minecraft:chest at "
            "0,5,0 page 0 repaired\n");
}

TEST(ChunkWalk, PassesOverWhatIsNotAContainerOrAFrame) {
  auto entity = [](const std::string& id) { return frame([id](Bytes& b) {
    b.stringEntry("id", id).compoundEntry("Item").raw(kPlainBook.data());
  }); };
  std::vector<Bytes> entities = {
      frame([](Bytes& b) { b.intEntry("TileX", 1); }),                       // no id
      frame([](Bytes& b) { b.intEntry("id", 5); }),                          // id not a string
      entity("minecraft:item_frame "), entity("Minecraft:item_frame"), entity("item_frame"),
      entity("minecraft:glow_item_frame"),
      frame([](Bytes& b) { b.stringEntry("id", "minecraft:item_frame"); }),  // no Item
      frame([](Bytes& b) { b.stringEntry("id", "minecraft:item_frame").intEntry("Item", 3); }),
      frame([](Bytes& b) { b.stringEntry("id", "minecraft:item_frame").compoundEntry("Item").intEntry("id", 1).end(); }),
  };
  std::vector<Bytes> tiles = {frame([](Bytes& b) { b.stringEntry("id", "minecraft:chest"); }),
                              frame([](Bytes& b) { b.stringEntry("id", "minecraft:chest").intEntry("Items", 1); })};
  EXPECT_EQ(outputFor(tiles, entities),
            "Warning: entity ID missing or malformed!\n"
            "Warning: entity ID missing or malformed!\n"
            "Warning: framed item ID missing or malformed!\n" +
                kNothing);

  // Lists of another type, and elements that are not compounds, say nothing.
  Bytes odd;
  odd.u8(10).str("").compoundEntry("Level").compoundEntry("TileEntities").end();
  odd.listEntry("Entities", 8, 1).str("not a compound").end().end();
  EXPECT_EQ(runOnRegion(RegionBuilder().chunk(0, 0, odd).build()).output, kNothing);

  // Block entities come before entities, whatever the order in the file.
  Bytes ordered;
  ordered.u8(10).str("").compoundEntry("Level");
  ordered.named(9, "Entities").raw(compoundList({itemFrame(0, 0, 0, writtenBook("Framed", {"a"}))}).data());
  ordered.named(9, "TileEntities").raw(compoundList({container("c", 1, 1, 1, {writtenBook("Stored", {"b"})})}).data());
  ordered.end().end();
  EXPECT_EQ(runOnRegion(RegionBuilder().chunk(0, 0, ordered).build()).output,
            "Book 'Stored' in c at 1,1,1 page 0 repaired\n"
            "Book 'Framed' in minecraft:written_book at 0,0,0 page 0 repaired\n");
}

TEST(ItemInspection, WarnsAboutMalformedItemsAndGoesOn) {
  Bytes items;
  items.u8(8).u32(2).str("a string").str("another");
  Bytes stringItems;
  stringItems.stringEntry("id", "minecraft:chest").named(9, "Items").raw(items.data()).end();
  EXPECT_EQ(outputFor({stringItems}),
            "Warning: contained item missing or malformed!\n"
            "Warning: contained item missing or malformed!\n" +
                kNothing);

  Bytes noId = Bytes().named(1, "Count").u8(1).end();
  Bytes intId = Bytes().intEntry("id", 3).end();
  EXPECT_EQ(outputFor({container("minecraft:chest", 0, 0, 0, {noId, intId, kPlainBook})}),
            "Warning: contained item ID missing or malformed!\n"
            "Warning: contained item ID missing or malformed!\n"
            "Book 'T' in minecraft:chest at 0,0,0 page 0 repaired\n");
}

TEST(ItemInspection, OnlyTheExactBookIdIsABook) {
  auto bookWithId = [](const std::string& id) {
    Bytes b;
    b.stringEntry("id", id).compoundEntry("tag").stringEntry("title", "X");
    b.listEntry("pages", 8, 1).str("plain").end().end();
    return b;
  };
  EXPECT_EQ(outputFor({container("c", 0, 0, 0,
                                 {bookWithId("minecraft:written_book "), bookWithId(" minecraft:written_book"),
                                  bookWithId("Minecraft:written_book"), bookWithId("written_book"),
                                  bookWithId("minecraft:writable_book"), bookWithId("minecraft:written_books")})}),
            kNothing);
}

TEST(ItemInspection, AnyIdContainingShulkerBoxIsOpened) {
  Bytes box = shulkerBox("shulker_box", {kPlainBook});
  Bytes upper = shulkerBox("minecraft:SHULKER_BOX", {kPlainBook});
  Bytes noTag = item("minecraft:lime_shulker_box");
  Bytes noBlockEntity = Bytes().stringEntry("id", "x:shulker_box").compoundEntry("tag").end().end();
  Bytes tagOfWrongType = Bytes().stringEntry("id", "x:shulker_box").intEntry("tag", 1).end();
  Bytes noItems = Bytes().stringEntry("id", "x:shulker_box").compoundEntry("tag").compoundEntry("BlockEntityTag")
                      .end().end().end();
  EXPECT_EQ(outputFor({container("c", 1, 2, 3, {box, upper, noTag, noBlockEntity, tagOfWrongType, noItems})}),
            "Book 'T' inside shulker_box in c at 1,2,3 page 0 repaired\n"
            "Warning: shulker box in c at 1,2,3 tag missing or malformed!\n"
            "Warning: shulker box in c at 1,2,3 BlockEntityTag missing or malformed!\n"
            "Warning: shulker box in c at 1,2,3 tag missing or malformed!\n");
}

TEST(BookChecks, BooksWithoutTagTitleOrPagesAreReportedOnce) {
  Bytes noTag = item("minecraft:written_book");
  Bytes noTitle = Bytes().stringEntry("id", "minecraft:written_book").compoundEntry("tag")
                      .listEntry("pages", 8, 1).str("plain").end().end();
  Bytes pagesNotAList = Bytes().stringEntry("id", "minecraft:written_book").compoundEntry("tag")
                            .stringEntry("title", "Odd").stringEntry("pages", "plain").end().end();
  Bytes noPages = Bytes().stringEntry("id", "minecraft:written_book").compoundEntry("tag")
                      .stringEntry("title", "None").end().end();
  EXPECT_EQ(outputFor({container("c", 0, 0, 0, {noTag, noTitle, pagesNotAList, noPages, writtenBook("Empty", {})})}),
            "Warning: written book in c at 0,0,0 tag missing or malformed!\n"
            "Warning: written book in c at 0,0,0 title missing or malformed!\n"
            "Warning: written book in c at 0,0,0 'Odd' pages missing or malformed!\n"
            "Warning: written book in c at 0,0,0 'None' pages missing or malformed!\n" +
                kNothing);
}

TEST(BookChecks, PagesAreCheckedOneByOneWithZeroBasedNumbers) {
  // Lists hold one element type, so pages that are not strings come as a
  // list of another type; each page still gets its own line and number.
  Bytes book;
  book.stringEntry("id", "minecraft:written_book").compoundEntry("tag").stringEntry("title", "Mixed");
  book.listEntry("pages", 10, 2).intEntry("a", 1).end().end().end().end();
  EXPECT_EQ(outputFor({container("c", 0, 0, 0, {book})}),
            "Warning: written book 'Mixed' in c at 0,0,0 page 0 missing or malformed!\n"
            "Warning: written book 'Mixed' in c at 0,0,0 page 1 missing or malformed!\n" +
                kNothing);

  EXPECT_EQ(outputFor({container("c", 0, 0, 0,
                                 {writtenBook("Json", {"\"quoted\"", "plain", "{\"text\":\"x\"}", "", "[a list]"})})}),
            "Book 'Json' in c at 0,0,0 page 1 repaired\n"
            "Book 'Json' in c at 0,0,0 page 3 repaired\n"
            "Book 'Json' in c at 0,0,0 page 4 repaired\n");
}

TEST(BookChecks, JsonPagesInBooksWithoutASpaceMayBeCorrupted) {
  EXPECT_EQ(outputFor({container("c", 0, 0, 0, {writtenBook("NoSpace", {"{\"text\":\"a\"}", "\"b\"", "c"})})}),
            "Book 'NoSpace' page 0 in c at 0,0,0 may have been corrupted: '{\"text\":\"a\"}'\n"
            "Book 'NoSpace' page 1 in c at 0,0,0 may have been corrupted: '\"b\"'\n"
            "Book 'NoSpace' in c at 0,0,0 page 2 repaired\n");
  // One space anywhere in the book, even in a page that gets repaired, silences those reports.
  EXPECT_EQ(outputFor({container("c", 0, 0, 0, {writtenBook("Spaced", {"{\"text\":\"a\"}", "two words"})})}),
            "Book 'Spaced' in c at 0,0,0 page 1 repaired\n");
  EXPECT_EQ(outputFor({container("c", 0, 0, 0, {writtenBook("Quiet", {"{\"text\":\"a b\"}"})})}), kNothing);
}

TEST(BookChecks, APageTooLongOnceRepairedIsLeftAsItWas) {
  std::string quotes(40000, '"');
  quotes[0] = 'x';  // plain text: every quote will be escaped, doubling its size
  EXPECT_EQ(outputFor({container("c", 0, 0, 0, {writtenBook("Long", {quotes, "short"})})}),
            "Warning: written book 'Long' in c at 0,0,0 page 0 not repaired: the repaired text would be 80001 bytes, "
            "more than the 65535 a page can hold!\n"
            "Book 'Long' in c at 0,0,0 page 1 repaired\n");
  // Exactly as long as a page can be once enclosed in quotes: repaired.
  EXPECT_EQ(outputFor({container("c", 0, 0, 0, {writtenBook("Edge", {std::string(65533, 'a')})})}),
            "Book 'Edge' in c at 0,0,0 page 0 repaired\n");
}

}  // namespace
