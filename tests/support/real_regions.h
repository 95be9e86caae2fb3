#pragma once

// The real region files of ../shared/regions, read at run time and never
// copied into the repository. Tests skip, visibly, when the folder is absent.

#include <string>
#include <vector>

namespace testing_support {

// The folder of real region files, or "" when it is not there.
std::string realRegionsDir();

// Every chunk of a region file that is stored with zlib and inflates, as its
// decompressed bytes, in slot order.
std::vector<std::vector<uint8_t>> inflatedChunks(const std::string& path);

}  // namespace testing_support

#define SKIP_WITHOUT_REAL_REGIONS(dir)                                              \
  const std::string dir = testing_support::realRegionsDir();                        \
  if (dir.empty()) GTEST_SKIP() << "real region files (../shared/regions) absent"
