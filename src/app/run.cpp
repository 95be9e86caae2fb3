#include "app/run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/command_line.h"
#include "app/file_run.h"
#include "app/json_lines.h"
#include "app/text.h"
#include "app/world.h"
#include "fsio/files.h"
#include "fsio/files.h"

namespace app {

namespace {

bool endsWith(const std::string& text, const char* end) {
  const size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

// Every file of a run, in order: those named, and the files of the worlds,
// servers' folders and region folders named; and whether a running game
// holds each world.
Listing listTargets(const std::vector<std::string>& paths, const RunOptions& options, bool& worlds) {
  Listing listing;
  worlds = false;
  for (const std::string& path : paths) {
    if (isWorld(path)) {
      worlds = true;
      listWorld(path, listing);
    } else if (const std::vector<std::string> inside = worldsIn(path); !inside.empty()) {
      worlds = true;
      for (const std::string& world : inside) listWorld(world, listing);
    } else if (isRegionFolder(path)) {
      worlds = true;
      listRegionFolder(path, listing);
    } else {
      // A player's file or level.dat is read as such only when asked to look everywhere.
      const Target::Kind kind = endsWith(path, ".mcc")                        ? Target::chunkFile
                                : options.everywhere && endsWith(path, ".dat") ? Target::playerFile
                                                                               : Target::region;
      addFile(path, kind, listing);
    }
  }
  testLocks(listing);
  return listing;
}

// A world a running game holds: refused, or in a check, told. Returns
// whether its files may run.
bool sayHeld(const World& world, const RunOptions& options, Output& out) {
  const char* state = world.held ? "is open in a running game (session.lock is held)"
                                  : "may be open in a running game (its session.lock cannot be tested)";
  const std::string line =
      options.check ? formatted("Warning: the world '%s' %s; what the game saves next may differ from what this check "
                                "read\n",
                                world.path.c_str(), state)
                    : formatted("Error: the world '%s' %s; stop the server first. Nothing of it was read or written\n",
                                world.path.c_str(), state);
  out.write(options.json ? jsonMessage(world.path, line) : line);
  return options.check;
}

// Runs the listed files; with `worlds`, the summary and what could not be read follow.
int runTargets(const Listing& listing, const RunOptions& options, bool worlds, bool headers) {
  // What lies in a world a game may hold, under any name (a link into it, a
  // hard link of a copy's file), is not written.
  auto blocked = [&](const std::string& name) {
    for (const World& world : listing.worlds) {
      if ((world.held || world.unknown) && name.compare(0, world.real.size() + 1, world.real + "/") == 0) return true;
    }
    return false;
  };
  std::vector<Target> files;
  int64_t bytes = 0;
  for (const Target& file : listing.files) {
    if (!options.check) {
      const bool inHeld = file.world >= 0 && (listing.worlds[static_cast<size_t>(file.world)].held ||
                                              listing.worlds[static_cast<size_t>(file.world)].unknown);
      if (inHeld || blocked(file.entry)) continue;
    }
    files.push_back(file);
    Target& kept = files.back();
    kept.otherNames.erase(std::remove_if(kept.otherNames.begin(), kept.otherNames.end(), blocked), kept.otherNames.end());
    bytes += file.size;
  }
  Progress progress(files.size(), bytes, options.check);
  OutputBesideProgress out(stdout, progress);
  int code = 0;
  for (const World& world : listing.worlds) {
    if ((world.held || world.unknown) && !sayHeld(world, options, out)) code = 1;
  }
  const RunTotals totals = runFiles(files, options, headers, worlds, out, progress);
  progress.finish();
  code = std::max(code, totals.code);
  if (worlds && totals.outputClosed) return 141;  // as a program that the closed pipe ended
  if (options.json) {
    JsonObject summary;
    summary.text("kind", "summary").number("files", static_cast<long long>(totals.files));
    summary.number("books_examined", totals.books);
    summary.number(options.check ? "files_that_would_be_repaired" : "files_repaired",
                   static_cast<long long>(totals.repaired));
    summary.number(options.check ? "pages_that_would_be_repaired" : "pages_repaired", totals.pages);
    summary.number("files_with_errors", static_cast<long long>(totals.withErrors));
    out.write(summary.line());
    for (const std::string& folder : listing.unreadable) {
      out.write(JsonObject().text("kind", "file error").text("file", folder)
                    .text("line", "Error: the folder '" + shown(folder) + "' could not be read").line());
    }
    if (!listing.unreadable.empty()) code = 1;
  } else if (worlds) {
    out.print("== Summary\n");
    out.print("Files examined: %zu\n", totals.files);
    out.print("Books examined: %ld\n", totals.books);
    out.print("%s: %zu\n", options.check ? "Files that would be repaired" : "Files repaired", totals.repaired);
    out.print("%s: %ld\n", options.check ? "Pages that would be repaired" : "Pages repaired", totals.pages);
    out.print("Files with errors: %zu\n", totals.withErrors);
    for (const std::string& folder : listing.unreadable) out.print("Error: the folder '%s' could not be read\n", folder.c_str());
    if (!listing.unreadable.empty()) code = 1;
  }
  // A check's report is all it makes: one that could not be written is a
  // failure (a real run's lines are not; its files are what it makes).
  if (!out.flush() && options.check) {
    if (out.error() != EPIPE) StreamOutput(stderr).print("Error: the report could not be written in full\n");
    code = std::max(code, 1);
  }
  // A check that ran whole says with its code whether a run would repair.
  if (options.check && code == 0 && totals.repairsDue) code = 3;
  return code;
}

}  // namespace

int runPagemend(int argc, char** argv, RunOptions defaults) {
  // Messages name the program as it was started, as the syntax line always did.
  // A program started with no name (Linux then gives it an empty one) goes by its own.
  const char* program = argc > 0 && argv[0][0] ? argv[0] : "pagemend";
  const CommandLine line = readCommandLine(argc, argv, defaults);
  switch (line.action) {
    case CommandLine::syntax:
      StreamOutput(stdout).print("Syntax: %s <filename.mcr/mca>\n", program);
      return 1;
    case CommandLine::help:
      printHelp(program);
      return 0;
    case CommandLine::version:
      std::printf("pagemend %s\n", PAGEMEND_VERSION);
      return 0;
    case CommandLine::mistaken:
      return commandLineError(program, line);
    case CommandLine::run:
      break;
  }
  bool worlds;
  const Listing listing = listTargets(line.paths, line.options, worlds);
  return runTargets(listing, line.options, worlds, worlds || line.paths.size() > 1);
}

int runPagemendWorld(int argc, char** argv, RunOptions defaults) {
  const CommandLine line = readCommandLine(argc, argv, defaults, true);
  switch (line.action) {
    case CommandLine::help:
      printWorldHelp();
      return 0;
    case CommandLine::version:
      std::printf("pagemend-world %s\n", PAGEMEND_VERSION);
      return 0;
    case CommandLine::run:
      break;
    default:
      return worldCommandLineError(line);
  }
  for (const std::string& path : line.paths) {
    fsio::FileInfo info;
    if (!fsio::infoAt(path, info) || info.type != fsio::FileInfo::folder) {
      StreamOutput(stderr).print("Error: '%s' is not a folder\n", path.c_str());
      return 1;
    }
    if (!isWorld(path) && worldsIn(path).empty() && !isRegionFolder(path)) {
      StreamOutput(stderr).print("Error: '%s' holds no region folder; name the world's folder, the one with level.dat\n",
                                 path.c_str());
      return 1;
    }
  }
  bool worlds;
  const Listing listing = listTargets(line.paths, line.options, worlds);
  return runTargets(listing, line.options, true, true);
}

}  // namespace app
