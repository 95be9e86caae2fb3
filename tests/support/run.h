#pragma once

// Running the real programs and handling the files they work on.

#include <string>
#include <vector>

#include "support/region_text.h"

namespace testing_support {

struct RunResult {
  std::string output;  // standard output and standard error, as printed
  int exitCode = -1;
};

// Runs a command line (already quoted as needed) through the shell.
RunResult runCommand(const std::string& command);

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string quoted(const std::string& s);
void writeFile(const std::string& path, const ByteVec& bytes);
ByteVec readFile(const std::string& path);
// Runs pagemend with these arguments.
RunResult runPagemend(const std::vector<std::string>& args);

// The folder of the real region files of other projects (../shared/regions,
// or PAGEMEND_REAL_REGIONS), or "" when it is not there; never copied here.
std::string realRegionsDir();

}  // namespace testing_support

#define SKIP_WITHOUT_REAL_REGIONS(dir)                       \
  const std::string dir = testing_support::realRegionsDir(); \
  if (dir.empty()) GTEST_SKIP() << "real region files (../shared/regions) absent"
