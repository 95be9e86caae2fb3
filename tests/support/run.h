#pragma once

// Runs the real pagemend binary in a scratch folder and captures what it printed.

#include <string>
#include <vector>

#include "support/region_builder.h"

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

// Writes `region` to a file in a scratch folder and runs pagemend on it.
// Every occurrence of the file's path in the output is replaced by "REGION".
struct RegionRun : RunResult {
  ByteVec before;
  ByteVec after;
};
RegionRun runOnRegion(const ByteVec& region);
RunResult runPagemend(const std::vector<std::string>& args);

}  // namespace testing_support
