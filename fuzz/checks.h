#pragma once

// The properties the fuzz targets check, shared with the test that replays
// every input the fuzzers ever found (fuzz/regressions/). Each returns when
// the property holds, with a verdict on the input that the replay compares
// with what it expects, and aborts, saying why on standard error, when not.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz_checks {

// data[0] is a type id, the rest a payload: whatever reads must write, read
// back to an equal tree, and write the same bytes again. Verdict: "rejected"
// or "reads N, writes M".
std::string tagReaderRoundTrip(const uint8_t* data, size_t size);

// The whole run on `data` as a region file (padded with zeros to a full
// header when shorter), in `scratchDir`: it ends, leaves the file untouched
// unless it repaired something, and a rewritten file holds every chunk of
// the input (rewritten from its repaired tree, or copied as it was) and has
// nothing left to repair. Console output goes wherever stdout points.
// everywhere: the run with --everywhere.
void wholeRun(const uint8_t* data, size_t size, const std::string& scratchDir, bool everywhere);

// `data` as a page of a book: a plain-text page is stored as a JSON string
// literal that decodes to exactly the original text (or left as it was when
// that literal would be too long); a JSON-looking page is never changed.
// Verdict: "left as it was" or "stored as " and the stored text.
std::string pageRepair(const uint8_t* data, size_t size);

// `data` as a record's zlib stream: the faster inflater and zlib alone come to
// the same verdict, the same codes and, on success, the same bytes. Verdict:
// "inflates to N bytes", or zlib's line.
std::string inflatersAgree(const uint8_t* data, size_t size);

}  // namespace fuzz_checks
