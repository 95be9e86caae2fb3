#include "app/command_line.h"

#include <getopt.h>

#include <cstdio>

#include "app/console.h"

namespace app {

namespace {

enum LongOnly { kCheck = 256, kEverywhere, kVersion, kJson, kUpgrade };

const option kOptions[] = {
    {"check", no_argument, nullptr, kCheck},
    {"everywhere", no_argument, nullptr, kEverywhere},
    {"json", no_argument, nullptr, kJson},
    {"upgrade", no_argument, nullptr, kUpgrade},
    {"jobs", required_argument, nullptr, 'j'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// 1 to 9999, written plainly.
bool readJobs(const char* text, int& jobs) {
  const std::string digits = text;
  if (digits.empty() || digits.size() > 4 || digits[0] == '0' || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  jobs = std::stoi(digits);
  return true;
}

}  // namespace

CommandLine readCommandLine(int argc, char** argv, RunOptions defaults, bool world) {
  CommandLine line;
  line.options = defaults;
  if (argc < 2 && !world) {
    line.action = CommandLine::syntax;
    return line;
  }
  opterr = 0;  // its messages are ours
  optind = 0;  // from the start, and GNU's way: options among the paths
  for (int c; (c = getopt_long(argc, argv, "hj:", kOptions, nullptr)) != -1;) {
    switch (c) {
      case kCheck:
        line.options.check = true;
        break;
      case kEverywhere:
        line.options.everywhere = true;
        break;
      case kJson:
        line.options.json = true;
        break;
      case kUpgrade:
        line.options.upgrade = true;
        break;
      case 'j':
        if (!readJobs(optarg, line.options.jobs)) {
          line.action = CommandLine::mistaken;
          line.mistake = CommandLine::badJobs;
          line.what = optarg;
          return line;
        }
        break;
      case 'h':
        line.action = CommandLine::help;
        return line;
      case kVersion:
        line.action = CommandLine::version;
        return line;
      default:
        line.action = CommandLine::mistaken;
        line.mistake = CommandLine::unknownOption;
        line.what = optopt && optopt < 256 && optopt != 'j' ? std::string("-") + static_cast<char>(optopt)
                                                            : std::string(argv[optind - 1]);
        return line;
    }
  }
  for (int i = optind; i < argc; ++i) line.paths.push_back(argv[i]);
  if (line.paths.empty()) {
    line.action = CommandLine::mistaken;
    line.mistake = CommandLine::nothingNamed;
  }
  return line;
}

// The paths of the help's examples: where the game keeps its worlds, and a
// server's region, as users of each system write them.
#ifdef _WIN32
constexpr const char* kExampleWorld = "\"%APPDATA%\\.minecraft\\saves\\My World\"";
constexpr const char* kExampleRegion = "C:\\Servers\\survival\\world\\region\\r.0.0.mca";
constexpr const char* kInterruptedOnWindows = "\n       (on Windows, Ctrl-C ends it with 0xC000013A)";
#else
constexpr const char* kExampleWorld = "~/.minecraft/saves/MyWorld";
constexpr const char* kExampleRegion = "/srv/minecraft/world/region/r.0.0.mca";
constexpr const char* kInterruptedOnWindows = "";
#endif

void printHelp(const char* program) {
  std::printf("Usage: %s [OPTIONS] PATH...\n", program);
  std::printf(
      "Repairs the written books in Minecraft region files (.mca, .mcr): a page the\n"
      "game cannot read becomes what it reads. Each file is read whole and rewritten\n"
      "only when a page of it was repaired; a rewrite replaces the file at once, so\n"
      "that it is always either the old file or the whole new one.\n"
      "\n"
      "A PATH is a region file (of any version: chunks of 1.18 and later, and entity\n"
      "files, are read in their own layout); with --everywhere also a player's file\n"
      "(*.dat) or level.dat. A world's folder (one holding level.dat, region/,\n"
      "dimensions/ or DIM<n>/region), a server's folder holding worlds (world,\n"
      "world_nether, world_the_end) or a region folder stands for every file of its\n"
      "worlds, looked at everywhere: region and entity files of every dimension,\n"
      "players' files and level.dat. A world open in a running game (its\n"
      "session.lock held) is not written.\n"
      "\n"
      "Options:\n"
      "  --check       report what would be repaired, and write nothing\n"
      "  --everywhere  look for books in every place they can lie: also lecterns,\n"
      "                glow item frames, the items of every entity (minecarts, boats,\n"
      "                animals, villagers, armor stands, items on the ground), as a\n"
      "                world's run does\n"
      "  --upgrade     before opening the world in a newer Minecraft: make every book\n"
      "                survive any later version (quote the pages that 1.20.5 to\n"
      "                1.21.4 would drop, shorten titles of more than 32 characters,\n"
      "                warn of what they would drop of the rest)\n"
      "  --json        write every finding, every file's result and the summary as\n"
      "                JSON objects, one a line (JSON Lines), in place of the lines\n"
      "  -j, --jobs N  run N files side by side (default: the number of processors)\n"
      "  -h, --help    print this help and exit\n"
      "  --version     print the version and exit\n"
      "  --            end of the options: every later argument is a path\n"
      "\n"
      "With several files, each one's lines follow a line \"== FILE\", for the files\n"
      "with more to say than that they need no repair; a run over a world ends with\n"
      "a summary that counts the books examined. Progress goes to standard error\n"
      "when it is a terminal and standard output is no pipe.\n"
      "\n"
      "Exit status:\n"
      "  0    every file was read, and rewritten if a page of it was repaired; chunks\n"
      "       that could not be read are reported and left exactly as they are\n"
      "  1    a file (or a world's folder) could not be read or rewritten; it is left\n"
      "       as it was\n"
      "  2    the command line is wrong; no file was touched\n"
      "  3    --check: something would be repaired (and nothing failed)\n"
      "  130  (as a shell says it) Ctrl-C, 143 SIGTERM, ended the run; the files not\n"
      "       done are as they were%s\n"
      "  141  in a run over a world, the output was closed before the end\n"
      "\n"
      "Examples (stop the game, or the server, first):\n"
      "  %s --check %s\n"
      "  %s %s\n"
      "  %s --everywhere %s\n",
      kInterruptedOnWindows, program, kExampleWorld, program, kExampleWorld, program, kExampleRegion);
}

void printWorldHelp() {
  std::printf(
      "Usage: pagemend-world [--check] [--everywhere] [-j N] WORLD\n"
      "Runs pagemend on every file of a Minecraft world, looking everywhere: the .mca\n"
      "and .mcr files of WORLD/region, WORLD/DIM-1/region, WORLD/DIM1/region,\n"
      "WORLD/DIM<n>/region and every dimension under WORLD/dimensions, the entities/\n"
      "beside them, the players' files and level.dat. WORLD may also be a server's\n"
      "folder holding worlds, or a region folder. A world open in a running game\n"
      "(session.lock held) is not written. The lines of each file with more to say\n"
      "than that it needs no repair follow a line \"== FILE\"; a summary ends the\n"
      "output. Progress goes to standard error when it is a terminal. It is pagemend\n"
      "over a world's folder (pagemend WORLD does the same), kept for the scripts\n"
      "that call it.\n"
      "\n"
      "Options:\n"
      "  --check          report what would be repaired, and write nothing\n"
      "  --everywhere     (a world is always looked at everywhere)\n"
      "  --upgrade        make every book survive being opened in any later version\n"
      "                   (see pagemend --help)\n"
      "  --json           every finding, file's result and the summary as JSON Lines\n"
      "  -j, --jobs N     handle N files at a time (default: the number of cores)\n"
      "  -h, --help       print this help and exit\n"
      "  --version        print the version and exit\n"
      "  --               end of the options\n"
      "\n"
      "WORLD is the world's folder, the one that holds level.dat; several may be named.\n"
      "Exit status: 0 when every file was read (and rewritten where a page of it was\n"
      "repaired); 1 when a file could not be read or rewritten, the world cannot be\n"
      "read or is open in a running game, or the command line is wrong; 3 when a\n"
      "--check found something to repair; 130 (143) as a shell says a run SIGINT\n"
      "(SIGTERM) ended;%s\n"
      "141 when the output was closed before the end.\n"
      "\n"
      "Example (stop the game, or the server, first):\n"
      "  pagemend-world --check %s\n",
      kInterruptedOnWindows, kExampleWorld);
}

int commandLineError(const char* program, const CommandLine& line) {
  switch (line.mistake) {
    case CommandLine::unknownOption:
      StreamOutput(stderr).print("Error: unknown option '%s'\n", line.what.c_str());
      break;
    case CommandLine::badJobs:
      StreamOutput(stderr).print("Error: -j needs a number from 1 to 9999, not '%s'\n", line.what.c_str());
      break;
    default:
      StreamOutput(stderr).print("Error: no file named\n");
  }
  std::fprintf(stderr, "Usage: %s [OPTIONS] PATH...\n", program);
  std::fprintf(stderr, "Try '%s --help' for more.\n", program);
  return 2;
}

int worldCommandLineError(const CommandLine& line) {
  if (line.mistake == CommandLine::badJobs) {
    StreamOutput(stderr).print("Error: -j needs a number from 1 to 9999, not '%s'\n", line.what.c_str());
    return 1;
  }
  if (line.mistake == CommandLine::unknownOption) StreamOutput(stderr).print("Error: unknown option '%s'\n", line.what.c_str());
  std::fprintf(stderr, "Usage: pagemend-world [--check] [--everywhere] [-j N] WORLD\n");
  std::fprintf(stderr, "Try 'pagemend-world --help' for more.\n");
  return 1;
}

}  // namespace app
