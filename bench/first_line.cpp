// How long a command takes to say its first word on a terminal: runs it with
// standard error on a pseudo-terminal (standard output thrown away) and
// prints the seconds until the first byte arrives there, then waits for it.
//
//   first_line COMMAND ARGS...
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMAND ARGS...\n", argv[0]);
    return 2;
  }
  int terminal;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) return 1;
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  char byte;
  double first = -1;
  for (ssize_t n; (n = read(terminal, &byte, 1)) != 0;) {
    if (n < 0) break;  // the terminal closed with the command
    if (first < 0) first = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  int status;
  waitpid(child, &status, 0);
  std::printf("%.4f\n", first);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
