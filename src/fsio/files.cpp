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

std::string joined(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  if (folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos) {
    return folder + (folder.back() == '\\' ? "" : "\\") + name;
  }
#endif
  return folder + "/" + name;
}

std::string withoutTrailingSeparators(const std::string& path) {
  std::string out = path;
  while (out.size() > 1 && isSeparator(out.back())) {
#ifdef _WIN32
    if (out.size() == 3 && out[1] == ':') break;
#endif
    out.pop_back();
  }
  return out;
}

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
