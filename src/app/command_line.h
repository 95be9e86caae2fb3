#pragma once

#include <string>
#include <vector>

#include "app/mend.h"

namespace app {

// A command line, read whole before any file is touched: a mistyped option
// must not leave some files repaired.
struct CommandLine {
  enum Action { run, help, version, syntax, mistaken };
  enum Mistake { none, unknownOption, nothingNamed, badJobs };
  Action action = run;
  Mistake mistake = none;
  std::string what;  // the option or the -j value in error
  RunOptions options;
  std::vector<std::string> paths;
};

// pagemend's command line (or, `world`, pagemend-world's), through
// getopt_long: options and paths in any order, "--" ending the options, an
// option's name long enough to tell it from the others.
CommandLine readCommandLine(int argc, char** argv, RunOptions defaults = {}, bool world = false);

void printHelp(const char* program);
void printWorldHelp();
// What is wrong, the usage and where to find more, on standard error; the
// exit code (2 for pagemend, 1 for pagemend-world).
int commandLineError(const char* program, const CommandLine& line);
int worldCommandLineError(const CommandLine& line);

}  // namespace app
