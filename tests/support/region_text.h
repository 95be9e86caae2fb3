#pragma once

// Regions, records and NBT written as text, so that test cases are data that
// can be read. A region is a list of directives:
//
//   chunk X Z TAG            slot X,Z holds a zlib record of the named tag (the chunk's root)
//   chunk X Z ( BYTES )      ... of these bytes (a root that is not a well-formed tag)
//   slot X Z ( BYTES )       slot X,Z holds these record bytes, on sectors of their own
//   append X Z NAME { BYTES }    slot X,Z holds the base's chunk there with this compound
//                            added to the list NAME at its root
//   location X Z SECTOR COUNT    a location entry, set after the records are laid out
//   locations X Z SECTOR COUNT   the same for slot X,Z and every later slot
//   timestamp X Z VALUE
//   place OFFSET ( BYTES )   bytes written at a byte offset, after the records are laid out
//   size N                   the file cut or padded with zeros to N bytes, last
//
// BYTES is a sequence of:
//   u8 N | u16 N | u32 N | u64 N      big-endian numbers; le32 N little-endian
//   hex "0a1b"   "text"   str "text"  raw bytes; raw bytes; a 2-byte length and the bytes
//   zlib ( BYTES )                    a zlib stream of the bytes at the default level
//   gzip ( BYTES )                    a gzip file of the bytes (as player files are)
//   zlibstored ( BYTES )              ... of stored blocks: 6 bytes + 5 a 65535 bytes longer
//   lz4 [N] ( BYTES )                 an LZ4 block stream as Java writes it, blocks of N bytes
//                                     (default 65536), each LZ4 or stored where that is not smaller
//   sized TYPE ( BYTES )              a record: its length field, compression type TYPE, the bytes
//   record ( BYTES )                  sized 2 ( zlib ( BYTES ) )
//   shortrecord ( BYTES )             the same with a length field one byte short, as some tools write
//   repeat N ( BYTES )   random N SEED
//   head N ( BYTES )   cut N ( BYTES )   the first N bytes; the bytes without their last N
//   TYPE NAME PAYLOAD                 a named tag (type id, name, payload)
//   payload TYPE PAYLOAD              a payload alone
// TYPE is byte short int long float double bytes string list compound ints longs;
// PAYLOAD is a number (0x... for a float's or double's bit pattern), a string
// (or ( BYTES ), a string of those bytes),
// [ numbers ] for arrays, ELEMENT-TYPE [ payloads ] for a list (the element
// type may be a number), { BYTES } for a compound (its closing 0 is added).
// Words need no quotes; "" is the empty name. # starts a comment.

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

using ByteVec = std::vector<uint8_t>;

// The region the text describes, its records after those of `base` (the
// bytes of a region file to add to, or nothing). Throws std::runtime_error,
// saying where, on text it cannot read.
ByteVec regionFromText(const std::string& text, const ByteVec& base = {});

// The bytes a BYTES text describes.
ByteVec bytesFromText(const std::string& text);

// A zlib stream of the bytes at the default level, and the bytes of a zlib
// stream (empty when it does not inflate whole, or when checksumMayBeShort,
// it does once the last bytes of its checksum are added, as the game reads it).
ByteVec zlibCompress(const ByteVec& data);
// The same, made by libdeflate at its default level, as pagemend makes them.
ByteVec libdeflateCompress(const ByteVec& data);
// An LZ4 block stream of the bytes in blocks of `block` bytes (see `lz4` above).
ByteVec lz4Stream(const ByteVec& data, size_t block = 65536);
ByteVec zlibInflate(const ByteVec& data, bool checksumMayBeShort = false);
// How many bytes the zlib stream at the start of `data` takes; 0 when it does not end there.
size_t zlibStreamLength(const ByteVec& data);

// The record slot n of a region file points at, as its length field
// describes it (4 + L bytes); empty when the slot is empty or the record
// does not fit in the file.
ByteVec recordAt(const ByteVec& file, int n);

}  // namespace testing_support
