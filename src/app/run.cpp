#include "app/run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "app/command_line.h"

namespace app {

int runPagemend(int argc, char** argv, RunOptions defaults) {
  // Messages name the program as it was started, as the syntax line always did.
  const char* program = argc > 0 ? argv[0] : "pagemend";
  StreamOutput out(stdout);
  const CommandLine line = readCommandLine(argc, argv, defaults);
  switch (line.action) {
    case CommandLine::syntax:
      out.print("Syntax: %s <filename.mcr/mca>\n", program);
      return 1;
    case CommandLine::help:
      printHelp(program);
      return 0;
    case CommandLine::version:
      std::printf("pagemend %s\n", PAGEMEND_VERSION);
      return 0;
    case CommandLine::mistaken:
      return commandLineError(program, line.mistake);
    case CommandLine::run:
      break;
  }
  const RunOptions& options = line.options;
  int code = 0;
  for (const std::string& name : line.paths) {
    const char* path = name.c_str();
    if (line.paths.size() > 1) out.print("== %s\n", path);
    // A player's file or level.dat is read as such only when asked to look everywhere.
    const FileResult result =
        options.everywhere && isPlayerFile(path) ? mendPlayerFile(path, options, out) : mendRegion(path, options, out);
    code = std::max(code, result.code);
    if (result.newerLayoutOnly) {
      // Not one of the lines a run promises on its output (and then nothing
      // was repaired): a word to the user.
      out.flush();
      std::fprintf(stderr,
                   "Hint: no chunk of '%s' holds a Level compound, as in regions saved by Minecraft 1.18 and "
                   "later; pagemend --everywhere reads them.\n",
                   path);
    }
  }
  // A check's report is all it makes: one that could not be written is a
  // failure (a real run's lines are not; its files are what it makes).
  errno = 0;
  if (!out.flush() && options.check) {
    if (errno != EPIPE) std::fprintf(stderr, "Error: the report could not be written in full\n");
    code = std::max(code, 1);
  }
  return code;
}

}  // namespace app
