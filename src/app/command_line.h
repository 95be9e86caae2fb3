#pragma once

#include <string>
#include <vector>

#include "app/mend.h"

namespace app {

// A command line, read whole before any file is touched: a mistyped option
// must not leave some files repaired.
struct CommandLine {
  enum Action { run, help, version, syntax, mistaken };
  Action action = run;
  RunOptions options;
  std::vector<std::string> paths;
  std::string mistake;  // what is wrong with it
};

// pagemend's command line (see printHelp), through getopt_long: options and
// files in any order, "--" ending the options, an option's name long enough
// to tell it from the others.
CommandLine readCommandLine(int argc, char** argv, RunOptions defaults = {});

void printHelp(const char* program);
// "Error: WHAT", the usage and where to find more, on standard error; 2, the exit code.
int commandLineError(const char* program, const std::string& what);

}  // namespace app
