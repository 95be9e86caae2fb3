// Runs commands side by side, several rounds, interleaved, and reports each
// one's median wall time and peak resident memory (from wait4's rusage).
//
//   process_bench [--runs N] -- NAME [--copy SRC DST] CMD ARGS... -- NAME CMD ARGS... [...]
//
// --copy copies SRC to DST before each run of that command, untimed (for a
// command that changes its input).
//
// Output: one line per command: name, median seconds, max RSS in KiB.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>

namespace {

struct Command {
  std::string name;
  std::string copyFrom, copyTo;
  std::vector<std::string> argv;
  std::vector<double> seconds;
  long maxRssKiB = 0;
  int lastExit = 0;
};

bool copyFile(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  std::FILE* out = std::fopen(to.c_str(), "wb");
  bool ok = in && out;
  char buffer[1 << 16];
  for (size_t n; ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) ok = std::fwrite(buffer, 1, n, out) == n;
  if (in) std::fclose(in);
  if (out) ok = std::fclose(out) == 0 && ok;
  return ok;
}

void runOnce(Command& c) {
  if (!c.copyFrom.empty() && !copyFile(c.copyFrom, c.copyTo)) {
    std::fprintf(stderr, "cannot copy %s to %s\n", c.copyFrom.c_str(), c.copyTo.c_str());
    std::exit(2);
  }
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);  // hints and usage lines; a failure shows in the exit code
    std::vector<char*> args;
    for (auto& a : c.argv) args.push_back(a.data());
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  c.seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  c.maxRssKiB = std::max(c.maxRssKiB, usage.ru_maxrss);
  c.lastExit = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 7;
  std::vector<Command> commands;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--")) {
      if (i + 2 >= argc) break;
      Command c;
      c.name = argv[++i];
      if (i + 3 < argc && !std::strcmp(argv[i + 1], "--copy")) {
        c.copyFrom = argv[i + 2];
        c.copyTo = argv[i + 3];
        i += 3;
      }
      while (i + 1 < argc && std::strcmp(argv[i + 1], "--") != 0) c.argv.push_back(argv[++i]);
      commands.push_back(c);
    }
  }
  if (commands.empty()) {
    std::fprintf(stderr, "usage: %s [--runs N] -- NAME CMD ARGS... [-- NAME CMD ARGS...]\n", argv[0]);
    return 2;
  }
  for (int r = 0; r < runs; ++r) {
    for (auto& c : commands) runOnce(c);
  }
  for (auto& c : commands) {
    std::sort(c.seconds.begin(), c.seconds.end());
    std::printf("%s %.6f %ld %d\n", c.name.c_str(), c.seconds[c.seconds.size() / 2], c.maxRssKiB, c.lastExit);
  }
  return 0;
}
