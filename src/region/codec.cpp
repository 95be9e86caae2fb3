#include "region/codec.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "console/console.h"

namespace region {

namespace {

// zlib writes into a staging buffer and the output takes only what each call
// produced, so the output never has to be zero-filled ahead of zlib.
constexpr size_t kStagingSize = 1 << 20;
unsigned char inflateStaging[kStagingSize];
unsigned char deflateStaging[kStagingSize];

void (*endCleanup)() = nullptr;

// Room for one more full staging buffer, grown geometrically so that a chunk
// of many MiB is not copied once per MiB; near `limit` it goes straight to the
// most that can be needed, so a chunk there is not copied once more for 1 MiB.
void makeRoom(ByteBuffer& output, size_t limit) {
  if (output.capacity() - output.size() < kStagingSize) {
    size_t next = std::max(output.size() + kStagingSize, output.capacity() * 2);
    if (next > limit - kStagingSize) next = limit + kStagingSize;
    output.reserve(next);
  }
}

void append(ByteBuffer& output, const unsigned char* staging, unsigned avail) {
  output.insert(output.end(), staging, staging + (kStagingSize - avail));
}

}  // namespace

void onEndAtOnce(void (*cleanup)()) { endCleanup = cleanup; }

void endRunAtOnce() {
  if (endCleanup) endCleanup();
  std::exit(1);
}

// inflateInit: Z_OK, or Z_MEM_ERROR / Z_VERSION_ERROR / Z_STREAM_ERROR, all
// reported as "inflateInit". inflate: Z_OK and Z_BUF_ERROR mean "go on or
// stopped short", Z_STREAM_END success, Z_NEED_DICT / Z_DATA_ERROR /
// Z_MEM_ERROR a bad or unreadable stream, Z_STREAM_ERROR a broken stream
// state, which is fatal. inflateEnd's result carries nothing we act on.
Inflated inflateChunk(const ByteBuffer& input, ByteBuffer& output) {
  z_stream stream{};
  int r = inflateInit(&stream);
  if (r != Z_OK) {
    printMessage("ERROR: inflateInit (%i)\n", r);
    return Inflated::failed;
  }
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  output.clear();
  do {
    makeRoom(output, kMaxChunkBytes);
    stream.next_out = inflateStaging;
    stream.avail_out = kStagingSize;
    r = inflate(&stream, Z_NO_FLUSH);
    if (r == Z_STREAM_ERROR) {
      printMessage("FATAL ERROR: zlib stream error!\n");
      endRunAtOnce();
    }
    if (r == Z_NEED_DICT || r == Z_DATA_ERROR || r == Z_MEM_ERROR) {
      inflateEnd(&stream);
      printMessage("ERROR: inflate (%i)\n", r);
      return Inflated::failed;
    }
    append(output, inflateStaging, stream.avail_out);
    if (output.size() > kMaxChunkBytes) {
      inflateEnd(&stream);
      return Inflated::tooLarge;
    }
  } while (stream.avail_out == 0);
  inflateEnd(&stream);
  if (r != Z_STREAM_END) {
    printMessage("ERROR: inflateEnd (%i)\n", r);
    return Inflated::failed;
  }
  return Inflated::ok;
}

// deflateInit: Z_OK or an error reported as "deflateInit". deflate with
// Z_FINISH: Z_STREAM_END when done, Z_OK or Z_BUF_ERROR when it needs more
// room (we loop while the staging buffer fills), Z_STREAM_ERROR fatal.
bool deflateChunk(const ByteBuffer& input, ByteBuffer& output) {
  if (input.size() > UINT32_MAX) {
    // zlib takes the input length as a 32-bit count; never truncate it silently.
    printMessage("ERROR: deflate input of %zu bytes is too large\n", input.size());
    return false;
  }
  z_stream stream{};
  int r = deflateInit(&stream, Z_DEFAULT_COMPRESSION);
  if (r != Z_OK) {
    printMessage("ERROR: deflateInit (%i)\n", r);
    return false;
  }
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  output.clear();
  do {
    makeRoom(output, SIZE_MAX - kStagingSize);  // no limit of its own
    stream.next_out = deflateStaging;
    stream.avail_out = kStagingSize;
    r = deflate(&stream, Z_FINISH);
    if (r == Z_STREAM_ERROR) {
      printMessage("FATAL ERROR: zlib stream error!\n");
      endRunAtOnce();
    }
    append(output, deflateStaging, stream.avail_out);
  } while (stream.avail_out == 0);
  deflateEnd(&stream);
  if (r != Z_STREAM_END) {
    printMessage("ERROR: deflateEnd (%i)\n", r);
    return false;
  }
  return true;
}

}  // namespace region
