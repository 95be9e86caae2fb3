#pragma once

// What the inspection of a chunk (or a file) finds, as data: the program
// alone turns a finding into words, in its own lines or as JSON, and a
// program using the library reads the fields.

#include <cstdint>
#include <string>
#include <vector>

namespace books {

enum class Kind : uint8_t {
  repaired,    // a page was rewritten (or, with --upgrade, a title shortened)
  corrupted,   // a page may be damaged JSON; nothing was changed
  warning,     // malformed data, passed over; or a repair kept back
  chunkError,  // what kept a chunk from loading, or from being written
  fileError,   // what kept a file from being read or written
};

// What exactly was found: each says one line of the program's.
enum class Subject : uint8_t {
  // a written book's page
  pageRepaired,
  pageMayBeCorrupted,  // `text`: the page
  pageMalformed,
  pageTooLong,  // `value`: the bytes the repaired text would take, `limit` what a page holds
  pageTooDeep,  // `limit`: the nesting the game reads
  // what the game from 1.20.5 on does to a book, told by --upgrade
  titleShortened,     // `text`: the new title, `value` 1 for the filtered title
  pageTooLongLater,   // `value`: its characters, `limit`: what the game keeps
  generationInvalid,  // `value`: the generation
  // a written book, an item, a holder
  bookTagMissing,
  bookTitleMissing,
  bookPagesMissing,
  itemMissing,
  itemIdMissing,
  shulkerTagMissing,
  shulkerBlockEntityMissing,
  entityIdMissing,
  framedItemIdMissing,
  // a chunk's record, its compression, its tree
  recordCutShort,
  recordBadLength,           // `value`: the length
  recordUnknownCompression,  // `value`: the type
  recordCustomCompression,   // `text`: the algorithm's name
  recordCustomUnnamed,
  recordExternalUnnamed,
  recordExternalTooLarge,    // `text`: the file, `limit`: MiB
  recordExternalUnreadable,  // `text`: the file
  codecCall,                 // zlib's own line: `call`, `code`
  codecStreamBroken,         // zlib's stream state broke: the run ends
  chunkUndecompressed,
  chunkTooLarge,       // `limit`: MiB
  chunkDamaged,        // `text`: what is wrong with the stream
  rootMissing,
  rootInvalid,
  rootNamed,           // `text`: the name
  rootTooManyTags,     // `limit`: tags
  rootNotCompound,
  levelMissing,
  // a repaired chunk that is kept as it was stored
  keptChanged,  // its record changed in the file since it was read
  keptTooDeep,
  keptTooManySectors,  // `value`: sectors
  keptTooOld,          // `value`: sectors, `version`: its DataVersion (-1: none)
  keptUncompressed,    // compressing it failed
};

// Where an item lies: the holder that the walk started from and the items
// it lies inside, innermost first.
struct Place {
  enum class Holder : uint8_t {
    none,
    blockEntity,  // `id` (if `hasId`) at its block position
    entity,       // `id`, at its position rounded down to blocks
    frame,        // a frame, named by the item it shows (`id`)
    inventory,    // of `id`: "player <uuid>", "the player in level.dat"
    enderChest,   // of `id`
  };
  Holder holder = Holder::none;
  bool hasId = false;
  std::string id;
  bool hasPosition = false;
  int32_t x = 0, y = 0, z = 0;
  std::vector<std::string> inside;  // the ids of the items that hold it, innermost first
  std::string frame;                // a frame's own id (minecraft:item_frame...)
};

struct Finding {
  Kind kind = Kind::warning;
  Subject subject = Subject::pageMalformed;
  bool inChunk = false;  // set by whoever knows the chunk's slot
  int chunkX = 0, chunkZ = 0;
  bool hasTitle = false;
  std::string title;  // as stored
  int page = -1;      // counted from 0
  bool hasPlace = false;
  Place place;
  std::string text;  // the page's text as stored, or a name (see Subject)
  long long value = 0, limit = 0;
  int version = -1;
  const char* call = "";  // a codec's failed call
  int code = 0;           // and its result
};

class Findings {
 public:
  virtual ~Findings() = default;
  virtual void add(Finding&& finding) = 0;
  // A written book was looked at, repaired or not: counted, never said.
  virtual void bookExamined() {}
};

}  // namespace books
