#include "fsio/files.h"

namespace fsio {

namespace {

// Where the last part of a path begins: after its last separator ('/', and
// on Windows '\\' too).
size_t lastSeparator(const std::string& path) {
#ifdef _WIN32
  return path.find_last_of("/\\");
#else
  return path.rfind('/');
#endif
}

}  // namespace

std::string directoryOf(const std::string& path) {
  const size_t slash = lastSeparator(path);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
#ifdef _WIN32
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);  // "C:/", not "C:", which is the drive's current folder
#endif
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const size_t slash = lastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace fsio
