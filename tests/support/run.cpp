#include "support/run.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {

std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

RunResult runCommand(const std::string& command) {
  RunResult result;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed");
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  int status = pclose(pipe);
#ifdef _WIN32
  result.exitCode = status;
#else
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  return result;
}

ScratchDir::ScratchDir() {
#ifdef _WIN32
  // No mkdtemp: a name no other folder has, made or refused at once.
  static std::atomic<unsigned> made{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0;; ++attempt) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("pagemend-test-" + std::to_string(now) + "-" + std::to_string(made++));
    if (std::filesystem::create_directory(dir)) {
      path_ = dir.generic_string();
      return;
    }
    if (attempt > 100) throw std::runtime_error("cannot make a scratch folder");
  }
#else
  std::string tmpl = (std::filesystem::temp_directory_path() / "pagemend-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
#endif
}
ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const ByteVec& bytes) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

ByteVec readFile(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  return ByteVec((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

RunResult runPagemend(const std::vector<std::string>& args) {
  std::string command = quoted(PAGEMEND_BINARY);
  for (const std::string& a : args) command += " " + quoted(a);
  return runCommand(command);
}

std::string realRegionsDir() {
  if (const char* env = std::getenv("PAGEMEND_REAL_REGIONS")) return env;
  const std::filesystem::path dir = std::filesystem::path(PAGEMEND_SOURCE_DIR) / ".." / "shared" / "regions";
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? std::filesystem::canonical(dir).string() : "";
}

}  // namespace testing_support
