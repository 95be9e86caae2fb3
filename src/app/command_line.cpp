#include "app/command_line.h"

#include <getopt.h>

#include <cstdio>

namespace app {

namespace {

void printUsage(std::FILE* to, const char* program) { std::fprintf(to, "Usage: %s [OPTIONS] FILE...\n", program); }

enum LongOnly { kCheck = 256, kEverywhere, kVersion };

const option kOptions[] = {
    {"check", no_argument, nullptr, kCheck},
    {"everywhere", no_argument, nullptr, kEverywhere},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

CommandLine readCommandLine(int argc, char** argv, RunOptions defaults) {
  CommandLine line;
  line.options = defaults;
  if (argc < 2) {
    line.action = CommandLine::syntax;
    return line;
  }
  opterr = 0;  // its messages are ours
  optind = 0;  // from the start, and GNU's way: options among the files
  for (int c; (c = getopt_long(argc, argv, "h", kOptions, nullptr)) != -1;) {
    switch (c) {
      case kCheck:
        line.options.check = true;
        break;
      case kEverywhere:
        line.options.everywhere = true;
        break;
      case 'h':
        line.action = CommandLine::help;
        return line;
      case kVersion:
        line.action = CommandLine::version;
        return line;
      default:
        line.action = CommandLine::mistaken;
        line.mistake = "unknown option '" + std::string(optopt && optopt < 256 ? std::string("-") + static_cast<char>(optopt)
                                                                            : argv[optind - 1]) + "'";
        return line;
    }
  }
  for (int i = optind; i < argc; ++i) line.paths.push_back(argv[i]);
  if (line.paths.empty()) {
    line.action = CommandLine::mistaken;
    line.mistake = "no file named";
  }
  return line;
}

void printHelp(const char* program) {
  printUsage(stdout, program);
  std::printf(
      "Repairs the written books in Minecraft region files (.mca, .mcr): a page stored\n"
      "as plain text becomes the JSON text the game expects. Each file is read whole\n"
      "and rewritten only when a page of it was repaired; a rewrite replaces the file\n"
      "at once, so that it is always either the old file or the whole new one.\n"
      "\n"
      "Options:\n"
      "  --check      report what would be repaired, and write nothing\n"
      "  --everywhere look for books in every place they can lie: also lecterns,\n"
      "               glow item frames, the items of every entity (minecarts, boats,\n"
      "               animals, villagers, armor stands, items on the ground), the\n"
      "               chunks of Minecraft 1.18 and later, and entity files\n"
      "               (entities/r.X.Z.mca)\n"
      "  -h, --help   print this help and exit\n"
      "  --version    print the version and exit\n"
      "  --           end of the options: every later argument is a file\n"
      "\n"
      "With several files, each one's lines follow a line \"== FILE\".\n"
      "\n"
      "Exit status:\n"
      "  0  every file was read, and rewritten if a page of it was repaired; chunks\n"
      "     that could not be read are reported and left exactly as they are\n"
      "  1  a file could not be read or rewritten; it is left as it was\n"
      "  2  the command line is wrong; no file was touched\n");
}

int commandLineError(const char* program, const std::string& what) {
  std::fprintf(stderr, "Error: %s\n", what.c_str());
  printUsage(stderr, program);
  std::fprintf(stderr, "Try '%s --help' for more.\n", program);
  return 2;
}

}  // namespace app
