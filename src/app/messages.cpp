#include "app/messages.h"

#include "anvil/layout.h"

#include <cstring>
#include <utility>

#include "app/json_lines.h"
#include "app/text.h"

namespace app {


namespace {

using books::Kind;
using books::Place;
using books::Subject;

void chunkError(Subject subject, int x, int z, books::Findings& findings, books::Finding&& finding = {}) {
  finding.kind = Kind::chunkError;
  finding.subject = subject;
  finding.inChunk = true;
  finding.chunkX = x;
  finding.chunkZ = z;
  findings.add(std::move(finding));
}

books::Finding withText(std::string text, long long limit = 0) {
  books::Finding finding;
  finding.text = std::move(text);
  finding.limit = limit;
  return finding;
}

books::Finding withValue(long long value) {
  books::Finding finding;
  finding.value = value;
  return finding;
}

}  // namespace

void reportRecord(const anvil::RecordStatus& status, int x, int z, books::Findings& findings) {
  using anvil::RecordStatus;
  switch (status.fault) {
    case RecordStatus::none:
      return;
    case RecordStatus::cutShort:
      return chunkError(Subject::recordCutShort, x, z, findings);
    case RecordStatus::badLength:
      return chunkError(Subject::recordBadLength, x, z, findings, withValue(status.value));
    case RecordStatus::unknownCompression:
      return chunkError(Subject::recordUnknownCompression, x, z, findings, withValue(status.value));
    case RecordStatus::customCompression:
      return chunkError(Subject::recordCustomCompression, x, z, findings, withText(status.text));
    case RecordStatus::customUnnamed:
      return chunkError(Subject::recordCustomUnnamed, x, z, findings);
    case RecordStatus::externalUnnamed:
      return chunkError(Subject::recordExternalUnnamed, x, z, findings);
    case RecordStatus::externalTooLarge:
      return chunkError(Subject::recordExternalTooLarge, x, z, findings,
                        withText(status.text, static_cast<long long>(anvil::kMaxChunkBytes >> 20)));
    case RecordStatus::tooLarge:
      return reportCodec(anvil::CodecStatus{anvil::CodecStatus::tooLarge}, x, z, findings);
    case RecordStatus::externalUnreadable:
      return chunkError(Subject::recordExternalUnreadable, x, z, findings, withText(status.text));
  }
}

void reportCodec(const anvil::CodecStatus& status, int x, int z, books::Findings& findings) {
  using anvil::CodecStatus;
  books::Finding call;
  call.call = status.call;
  call.code = status.code;
  switch (status.outcome) {
    case CodecStatus::ok:
      return;
    case CodecStatus::failed:
      chunkError(Subject::codecCall, x, z, findings, std::move(call));
      return chunkError(Subject::chunkUndecompressed, x, z, findings);
    case CodecStatus::tooLarge:
      return chunkError(Subject::chunkTooLarge, x, z, findings,
                        withText("", static_cast<long long>(anvil::kMaxChunkBytes >> 20)));
    case CodecStatus::streamError:
      return chunkError(Subject::codecStreamBroken, x, z, findings, std::move(call));
    case CodecStatus::damaged:
      call.value = status.damage;
      return chunkError(Subject::chunkDamaged, x, z, findings, std::move(call));
  }
}

void reportRoot(const anvil::RootStatus& status, int x, int z, books::Findings& findings) {
  using anvil::RootStatus;
  switch (status.fault) {
    case RootStatus::none:
      return;
    case RootStatus::noRoot:
      return chunkError(Subject::rootMissing, x, z, findings);
    case RootStatus::invalidRoot:
      return chunkError(Subject::rootInvalid, x, z, findings);
    case RootStatus::namedRoot:
      return chunkError(Subject::rootNamed, x, z, findings, withText(status.name));
    case RootStatus::tooManyTags:
      return chunkError(Subject::rootTooManyTags, x, z, findings, withText("", nbt::kMaxTags));
    case RootStatus::notCompound:
      return chunkError(Subject::rootNotCompound, x, z, findings);
    case RootStatus::noLevel:
      return chunkError(Subject::levelMissing, x, z, findings);
  }
}

std::string codecLine(const anvil::CodecStatus& status) {
  if (status.outcome != anvil::CodecStatus::failed && status.outcome != anvil::CodecStatus::streamError) return "";
  books::Finding finding;
  finding.subject = status.outcome == anvil::CodecStatus::failed ? Subject::codecCall : Subject::codecStreamBroken;
  finding.call = status.call;
  finding.code = status.code;
  return lineOf(finding);
}

std::string damageOf(int damage, int block) {
  switch (damage) {
    case anvil::CodecStatus::endsInBlock:
      return formatted("its LZ4 stream ends inside block %d", block);
    case anvil::CodecStatus::noMagic:
      return formatted("LZ4 block %d does not begin with \"LZ4Block\"", block);
    case anvil::CodecStatus::badHeader:
      return formatted("LZ4 block %d has an invalid header", block);
    case anvil::CodecStatus::damagedBlock:
      return formatted("LZ4 block %d is damaged", block);
    default:
      return formatted("LZ4 block %d fails its checksum", block);
  }
}

std::string placeText(const Place& place) {
  std::string text;
  for (const std::string& id : place.inside) text += " inside " + id;
  switch (place.holder) {
    case Place::Holder::none:
      return text;
    case Place::Holder::inventory:
      return text + " in the inventory of " + place.id;
    case Place::Holder::enderChest:
      return text + " in the ender chest of " + place.id;
    default:
      if (place.hasId) text += " in " + place.id;
      if (place.hasPosition) {
        text += " at " + std::to_string(place.x) + "," + std::to_string(place.y) + "," + std::to_string(place.z);
      }
      return text;
  }
}

std::string lineOf(const books::Finding& f) {
  // Escaped before they are formatted: %s would end either at a zero byte.
  const std::string at = shown(f.hasPlace ? placeText(f.place) : "");
  const std::string title = shown(f.title);
  const char* t = title.c_str();
  const char* l = at.c_str();
  const int x = f.chunkX, z = f.chunkZ, page = f.page;
  switch (f.subject) {
    case Subject::pageRepaired:
      return formatted("Book '%s'%s page %i repaired\n", t, l, page);
    case Subject::pageMayBeCorrupted:
      return formatted("Book '%s' page %i%s may have been corrupted: '%s'\n", t, page, l, shown(f.text).c_str());
    case Subject::pageMalformed:
      return formatted("Warning: written book '%s'%s page %i missing or malformed!\n", t, l, page);
    case Subject::pageTooLong:
      return formatted("Warning: written book '%s'%s page %i not repaired: the repaired text would be %lld bytes, more "
                       "than the %lld a page can hold!\n",
                       t, l, page, f.value, f.limit);
    case Subject::pageTooDeep:
      return formatted("Warning: written book '%s'%s page %i not repaired: as a text component it would nest deeper "
                       "than the %lld levels the game reads!\n",
                       t, l, page, f.limit);
    case Subject::titleShortened:
      return formatted("Book '%s'%s %stitle shortened to '%s', as Minecraft 1.20.5 and later keep a book only with a "
                       "title of at most 32 characters\n",
                       t, l, f.value == 1 ? "filtered " : "", shown(f.text).c_str());
    case Subject::pageTooLongLater:
      return formatted("Warning: written book '%s'%s page %i is %lld characters long: Minecraft 1.20.5 and later drop "
                       "a page of more than %lld!\n",
                       t, l, page, f.value, f.limit);
    case Subject::generationInvalid:
      return formatted("Warning: written book '%s'%s has generation %lld: Minecraft 1.20.5 and later drop all of a "
                       "book whose generation is not 0 to 3!\n",
                       t, l, f.value);
    case Subject::bookTagMissing:
      return formatted("Warning: written book%s tag missing or malformed!\n", l);
    case Subject::bookTitleMissing:
      return formatted("Warning: written book%s title missing or malformed!\n", l);
    case Subject::bookPagesMissing:
      return formatted("Warning: written book%s '%s' pages missing or malformed!\n", l, t);
    case Subject::itemMissing:
      return "Warning: contained item missing or malformed!\n";
    case Subject::itemIdMissing:
      return "Warning: contained item ID missing or malformed!\n";
    case Subject::shulkerTagMissing:
      return formatted("Warning: shulker box%s tag missing or malformed!\n", l);
    case Subject::shulkerBlockEntityMissing:
      return formatted("Warning: shulker box%s BlockEntityTag missing or malformed!\n", l);
    case Subject::entityIdMissing:
      return "Warning: entity ID missing or malformed!\n";
    case Subject::framedItemIdMissing:
      return "Warning: framed item ID missing or malformed!\n";
    case Subject::recordCutShort:
      return formatted("Error: Chunk %i,%i failed to read all data\n", x, z);
    case Subject::recordBadLength:
      return formatted("Error: Chunk %i,%i has an invalid record length (%lld)\n", x, z, f.value);
    case Subject::recordUnknownCompression:
      return formatted("Error: Chunk %i,%i NBT is not compressed using Zlib (type=%lld)\n", x, z, f.value);
    case Subject::recordCustomCompression:
      return formatted("Error: Chunk %i,%i is compressed with the custom algorithm '%s', which pagemend cannot read; it "
                       "is left as it is\n",
                       x, z, shown(f.text).c_str());
    case Subject::recordCustomUnnamed:
      return formatted("Error: Chunk %i,%i is compressed with a custom algorithm whose name cannot be read; it is left "
                       "as it is\n",
                       x, z);
    case Subject::recordExternalUnnamed:
      return formatted("Error: Chunk %i,%i is stored in a file of its own, which a region not named r.X.Z.mca cannot "
                       "name\n",
                       x, z);
    case Subject::recordExternalTooLarge:
      return formatted("Error: Chunk %i,%i is stored in '%s', larger than %lld MiB, far beyond any chunk the game "
                       "writes; it is left as it is\n",
                       x, z, shown(f.text).c_str(), f.limit);
    case Subject::recordExternalUnreadable:
      return formatted("Error: Chunk %i,%i is stored in '%s', which cannot be read\n", x, z, shown(f.text).c_str());
    case Subject::codecCall:
      return formatted("ERROR: %s (%d)\n", f.call, f.code);
    case Subject::codecStreamBroken:
      return "FATAL ERROR: zlib stream error!\n";
    case Subject::chunkUndecompressed:
      return formatted("Error: Chunk %i,%i failed to decompress\n", x, z);
    case Subject::chunkTooLarge:
      return formatted("Error: Chunk %i,%i decompresses to more than %lld MiB, far beyond any chunk the game writes; "
                       "it is left as it is\n",
                       x, z, f.limit);
    case Subject::chunkDamaged:
      return formatted("Error: Chunk %i,%i failed to decompress: %s\n", x, z,
                       damageOf(static_cast<int>(f.value), f.code).c_str());
    case Subject::rootMissing:
      return formatted("Error: Chunk %i,%i contained no root tag!\n", x, z);
    case Subject::rootInvalid:
      return formatted("Error: Chunk %i,%i contained invalid root tag!\n", x, z);
    case Subject::rootNamed:
      return formatted("Error: Chunk %i,%i root tag had non-blank name '%s'\n", x, z, shown(f.text).c_str());
    case Subject::rootTooManyTags:
      return formatted("Error: Chunk %i,%i holds more than %lld tags, far beyond any chunk the game writes; it is left "
                       "as it is\n",
                       x, z, f.limit);
    case Subject::rootNotCompound:
      return formatted("Error: Chunk %i,%i root object malformed!\n", x, z);
    case Subject::levelMissing:
      return formatted("Error: Chunk %i,%i Level object missing or malformed!\n", x, z);
    case Subject::keptChanged:
      return formatted("Warning: Chunk %i,%i did not load as it did a moment ago; it is kept exactly as it was stored\n",
                       x, z);
    case Subject::keptTooDeep:
      return formatted("Warning: Chunk %i,%i would nest too deep or hold too many tags once repaired; it is kept "
                       "exactly as it was stored\n",
                       x, z);
    case Subject::keptTooManySectors:
      return formatted("Warning: Chunk %i,%i would need %lld sectors, more than a location entry can describe; it is "
                       "kept exactly as it was stored\n",
                       x, z, f.value);
    case Subject::keptTooOld: {
      const std::string version = f.version < 0 ? "no DataVersion" : "DataVersion " + std::to_string(f.version);
      return formatted("Warning: Chunk %i,%i would need %lld sectors once repaired, more than its region can hold, and "
                       "its version of the game (%s, before 1.15) reads no chunk files; it is kept exactly as it was "
                       "stored\n",
                       x, z, f.value, version.c_str());
    }
    case Subject::keptUncompressed:
      return formatted("Error: Chunk %i,%i failed to compress\n", x, z);
  }
  return "";
}

void reportOpen(const anvil::OpenStatus& status, const char* path, Output& out) {
  switch (status.fault) {
    case anvil::OpenStatus::none:
      return;
    case anvil::OpenStatus::cannotOpen:
      out.print("Error: unable to open file '%s'!\n", path);
      return;
    case anvil::OpenStatus::tooShort:
      out.print("Error: file '%s' is too short to be a region file (%lld bytes; its tables alone take %lld)!\n", path,
                static_cast<long long>(status.size), static_cast<long long>(anvil::kHeaderSize));
      return;
    case anvil::OpenStatus::cannotRead:
      out.print("Error: unable to read file '%s'!\n", path);
      return;
  }
}

void reportNbtFile(const anvil::NbtFileStatus& status, const char* path, Output& out) {
  using anvil::NbtFileStatus;
  using anvil::RootStatus;
  switch (status.fault) {
    case NbtFileStatus::none:
      return;
    case NbtFileStatus::cannotOpen:
      out.print("Error: unable to open file '%s'!\n", path);
      return;
    case NbtFileStatus::tooLarge:
      out.print("Error: file '%s' is larger than %zu MiB, far beyond any file the game writes; it is left as it is\n",
                path, anvil::kMaxChunkBytes >> 20);
      return;
    case NbtFileStatus::cannotRead:
      out.print("Error: unable to read file '%s'!\n", path);
      return;
    case NbtFileStatus::undecoded:
      if (status.codec.outcome == anvil::CodecStatus::tooLarge) {
        out.print("Error: file '%s' decompresses to more than %zu MiB, far beyond any file the game writes; it is left "
                  "as it is\n",
                  path, anvil::kMaxChunkBytes >> 20);
        return;
      }
      out.write(codecLine(status.codec));
      out.print("Error: file '%s' failed to decompress\n", path);
      return;
    case NbtFileStatus::unread:
      switch (status.root.fault) {
        case RootStatus::noRoot:
          out.print("Error: file '%s' contained no root tag!\n", path);
          return;
        case RootStatus::tooManyTags:
          out.print("Error: file '%s' holds more than %u tags, far beyond any file the game writes; it is left as it is\n",
                    path, nbt::kMaxTags);
          return;
        case RootStatus::notCompound:
          out.print("Error: file '%s' root object malformed!\n", path);
          return;
        default:
          out.print("Error: file '%s' contained invalid root tag!\n", path);
          return;
      }
  }
}

void reportReplacement(const fsio::Failure& failure, const char* path, Output& out) {
  using fsio::Failure;
  const char* why = std::strerror(failure.error);
  switch (failure.kind) {
    case Failure::none:
      return;
    case Failure::notWritable:
      out.print("Error: unable to open file '%s' for output!\n", path);
      return;
    case Failure::cannotCreate:
      out.print("Error: unable to create a new file beside '%s' (%s); it is left as it was!\n", path, why);
      return;
    case Failure::shutOut:
      out.print("Error: a new file in place of '%s' cannot keep its %s, whose access it would take away; it is left as "
                "it was!\n",
                path, failure.detail.c_str());
      return;
    case Failure::modeNotKept:
      out.print("Error: a new file in place of '%s' cannot keep its permissions (%s); it is left as it was!\n", path,
                why);
      return;
    case Failure::attributesUnread:
      out.print("Error: unable to read the extended attributes of file '%s' (%s); it is left as it was!\n", path, why);
      return;
    case Failure::attributeNotCopied:
      out.print("Error: unable to copy the extended attribute '%s' of file '%s' (%s); it is left as it was!\n",
                failure.detail.c_str(), path, why);
      return;
    case Failure::writeFailed:
      out.print("Error: unable to write file '%s' (%s); it is left as it was!\n", path, why);
      return;
    case Failure::notTheOldFile:
      out.print("Warning: file '%s' no longer names the file repaired; it is left as it is\n", path);
      return;
    case Failure::inUse:
      out.print("Error: file '%s' is in use by another program (%s); it is left as it was! Close the game (or what "
                "holds it) and run again\n",
                path, why);
      return;
  }
}

std::string Voice::say(const books::Finding& finding) const {
  const std::string line = lineOf(finding);
  return json ? jsonFinding(finding, file, line) : line;
}

std::string readDetail(const nbt::Tree::ReadResult& read) {
  if (read.outcome == nbt::Tree::Read::ok || !*read.reason) return "";
  return " (" + std::string(read.reason) + ", at byte " + std::to_string(read.offset) + ")";
}

}  // namespace app
