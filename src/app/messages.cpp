#include "app/messages.h"

#include "anvil/layout.h"

#include <cstring>

namespace app {

using books::Finding;

void reportRecord(const anvil::RecordStatus& status, int x, int z, books::Report& report) {
  using anvil::RecordStatus;
  switch (status.fault) {
    case RecordStatus::none:
      return;
    case RecordStatus::cutShort:
      report.addf(Finding::error, "Error: Chunk %i,%i failed to read all data\n", x, z);
      return;
    case RecordStatus::badLength:
      report.addf(Finding::error, "Error: Chunk %i,%i has an invalid record length (%i)\n", x, z, status.value);
      return;
    case RecordStatus::unknownCompression:
      report.addf(Finding::error, "Error: Chunk %i,%i NBT is not compressed using Zlib (type=%i)\n", x, z, status.value);
      return;
    case RecordStatus::customCompression:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i is compressed with the custom algorithm '%s', which pagemend cannot read; it is "
                  "left as it is\n",
                  x, z, books::shown(status.text).c_str());  // whole, a zero byte too
      return;
    case RecordStatus::customUnnamed:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i is compressed with a custom algorithm whose name cannot be read; it is left as it "
                  "is\n",
                  x, z);
      return;
    case RecordStatus::externalUnnamed:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i is stored in a file of its own, which a region not named r.X.Z.mca cannot "
                  "name\n",
                  x, z);
      return;
    case RecordStatus::externalTooLarge:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i is stored in '%s', larger than %zu MiB, far beyond any chunk the game writes; it is "
                  "left as it is\n",
                  x, z, status.text.c_str(), anvil::kMaxChunkBytes >> 20);
      return;
    case RecordStatus::tooLarge:
      reportCodec(anvil::CodecStatus{anvil::CodecStatus::tooLarge}, x, z, report);
      return;
    case RecordStatus::externalUnreadable:
      report.addf(Finding::error, "Error: Chunk %i,%i is stored in '%s', which cannot be read\n", x, z,
                  status.text.c_str());
      return;
  }
}

void reportCodec(const anvil::CodecStatus& status, int x, int z, books::Report& report) {
  using anvil::CodecStatus;
  switch (status.outcome) {
    case CodecStatus::ok:
      return;
    case CodecStatus::failed:
      report.add(Finding::error, anvil::codecLine(status));
      report.addf(Finding::error, "Error: Chunk %i,%i failed to decompress\n", x, z);
      return;
    case CodecStatus::tooLarge:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i decompresses to more than %zu MiB, far beyond any chunk the game writes; it is "
                  "left as it is\n",
                  x, z, anvil::kMaxChunkBytes >> 20);
      return;
    case CodecStatus::streamError:
      report.add(Finding::error, anvil::codecLine(status));
      return;
    case CodecStatus::damaged:
      report.addf(Finding::error, "Error: Chunk %i,%i failed to decompress: %s\n", x, z,
                  anvil::codecReason(status).c_str());
      return;
  }
}

void reportRoot(const anvil::RootStatus& status, int x, int z, books::Report& report) {
  using anvil::RootStatus;
  switch (status.fault) {
    case RootStatus::none:
      return;
    case RootStatus::noRoot:
      report.addf(Finding::error, "Error: Chunk %i,%i contained no root tag!\n", x, z);
      return;
    case RootStatus::invalidRoot:
      report.addf(Finding::error, "Error: Chunk %i,%i contained invalid root tag!\n", x, z);
      return;
    case RootStatus::namedRoot:
      report.addf(Finding::error, "Error: Chunk %i,%i root tag had non-blank name '%s'\n", x, z,
                  books::shown(status.name).c_str());
      return;
    case RootStatus::tooManyTags:
      report.addf(Finding::error,
                  "Error: Chunk %i,%i holds more than %u tags, far beyond any chunk the game writes; it is left as "
                  "it is\n",
                  x, z, nbt::kMaxTags);
      return;
    case RootStatus::notCompound:
      report.addf(Finding::error, "Error: Chunk %i,%i root object malformed!\n", x, z);
      return;
    case RootStatus::noLevel:
      report.addf(Finding::error, "Error: Chunk %i,%i Level object missing or malformed!\n", x, z);
      return;
  }
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
      out.write(anvil::codecLine(status.codec));
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
  }
}

std::string readDetail(const nbt::Tree::ReadResult& read) {
  if (read.outcome == nbt::Tree::Read::ok || !*read.reason) return "";
  return " (" + std::string(read.reason) + ", at byte " + std::to_string(read.offset) + ")";
}

}  // namespace app
