// Killing a run at any moment leaves the whole original region or the whole
// repaired one at its path; beside it at most the temporary files of killed
// runs, which the next complete rewrite removes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "support/run.h"

extern char** environ;

using namespace testing_support;

namespace {

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A run with its output thrown away, or with standard input and output
// closed, as a service manager may start it.
pid_t start(const std::vector<std::string>& args, bool closed = false) {
  pid_t pid;
  // (PAGEMEND_PROGRAMS: a folder whose pagemend runs in its place, as for the cases.)
  const char* programs = std::getenv("PAGEMEND_PROGRAMS");
  std::string binary = programs ? std::string(programs) + "/pagemend" : PAGEMEND_BINARY;
  std::vector<char*> argv{binary.data()};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (closed) {
    posix_spawn_file_actions_addclose(&actions, 0);
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  EXPECT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Writes `files` into a scratch folder, runs pagemend with `args` (in which
// FOLDER stands for it) once whole, then `kills` times killed at moments
// spread over such a run (and a few past it, for a slower machine), every
// other run with standard input and output closed: `target` must hold the
// original or the repaired file each time, the other files what they held,
// and beside them only temporaries of killed runs named for `target`.
void killRepeatedly(const std::map<std::string, ByteVec>& files, const std::string& target,
                    std::vector<std::string> args, int kills) {
  ScratchDir dir;
  for (std::string& arg : args) {
    if (arg.rfind("FOLDER", 0) == 0) arg = dir.path() + arg.substr(6);
  }
  auto writeAll = [&] {
    for (const auto& [name, bytes] : files) writeFile(dir.file(name), bytes);
  };
  writeAll();
  const auto begin = std::chrono::steady_clock::now();
  waitpid(start(args), nullptr, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const ByteVec original = files.at(target), repaired = readFile(dir.file(target));
  ASSERT_NE(repaired, original);
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);

  const std::string prefix = "." + target + ".pagemend-";
  int keptOriginal = 0;
  const int late = 5;
  for (int i = 0; i < kills + late; ++i) {
    writeAll();
    const pid_t pid = start(args, i % 2 == 1);
    std::this_thread::sleep_for(
        std::chrono::duration<double>(i < kills ? seconds * (i + 0.5) / kills : seconds * (1 + 0.5 * (i - kills + 1))));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const ByteVec now = readFile(dir.file(target));
    ASSERT_TRUE(now == original || now == repaired) << "killed at moment " << i << ": a damaged " << target;
    keptOriginal += now == original;
    for (const auto& [name, bytes] : files) {
      if (name != target) {
        ASSERT_EQ(readFile(dir.file(name)), bytes) << name << " changed";
      }
    }
    for (const std::string& name : namesIn(dir.path())) {
      const bool temporary = name.rfind(prefix, 0) == 0 && name.size() > prefix.size() + 4 &&
                             name.compare(name.size() - 4, 4, ".tmp") == 0 &&
                             name.substr(prefix.size(), name.size() - prefix.size() - 4).find_first_not_of("0123456789") ==
                                 std::string::npos;
      ASSERT_TRUE(temporary || files.count(name)) << "unexpected file " << name;
    }
  }
  std::cout << kills + late << " kills over a " << seconds << " s run of " << target << ": " << keptOriginal
            << " left the original, " << kills + late - keptOriginal << " the repaired file\n";
  writeAll();
  int status;
  waitpid(start(args, true), &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(namesIn(dir.path()), names);
  EXPECT_EQ(readFile(dir.file(target)), repaired);
}

const std::string kBook =
    "list Items compound [ { string id minecraft:written_book compound tag { string title T list pages string [ "
    "\"plain text\" ] } } ]";

TEST(Safety, AKilledRunLeavesTheOriginalOrTheRepairedRegion) {
  // Many chunks, each with a book, so that the rewrite compresses every one afresh and takes a while.
  std::string text;
  for (int n = 0; n < 250; ++n) {
    text += "chunk " + std::to_string(n % 32) + " " + std::to_string(n / 32) +
            " compound \"\" { compound Level { u8 7 str Data u32 40000 random 40000 " + std::to_string(n) +
            " list TileEntities compound [ { string id c " + kBook + " } ] } }\n";
  }
  killRepeatedly({{"r.0.0.mca", regionFromText(text)}}, "r.0.0.mca", {"FOLDER/r.0.0.mca"}, 50);
}

TEST(Safety, AKilledRunLeavesTheOriginalOrTheRepairedChunkFileAndPlayerFile) {
  // One large chunk in its own file, and a player's file, each with a book.
  const std::string big = "u8 7 str Data u32 12000000 random 12000000 9 ";
  killRepeatedly({{"r.0.0.mca", regionFromText("slot 0 0 ( u32 1 u8 130 )")},
                  {"c.0.0.mcc", bytesFromText("zlib ( compound \"\" { compound Level { " + big +
                                              "list TileEntities compound [ { string id c " + kBook + " } ] } } )")}},
                 "c.0.0.mcc", {"--everywhere", "FOLDER/r.0.0.mca"}, 20);
  killRepeatedly({{"player.dat", bytesFromText("gzip ( compound \"\" { " + big +
                                                "list Inventory compound [ { byte Slot 0 string id minecraft:written_book "
                                                "compound tag { string title T list pages string [ \"plain text\" ] } } ] } )")}},
                 "player.dat", {"--everywhere", "FOLDER/player.dat"}, 20);
}

// A terminating signal in a world run that rewrites many files at once:
// every temporary made before it is removed and none is made after it,
// wherever the signal falls; the run ends as the signal ends a process.
TEST(Safety, ATerminatedWorldRunLeavesNoTemporaryWhateverTheWorkersAreDoing) {
  if (std::getenv("PAGEMEND_PROGRAMS")) {
    GTEST_SKIP() << "Wine ends a Windows program at SIGTERM without a word to it, as Windows' TerminateProcess does "
                    "(its temporaries go at the next run); SIGINT it makes Ctrl-C, whose handling "
                    "scripts/wine-tests.sh tries";
  }
  ScratchDir dir;
  const std::string region = dir.file("w/region");
  std::filesystem::create_directories(region);
  std::string text;
  for (int n = 0; n < 4; ++n) {
    text += "chunk " + std::to_string(n) + " 0 compound \"\" { compound Level { u8 7 str Data u32 20000 random 20000 " +
            std::to_string(n) + " list TileEntities compound [ { string id c " + kBook + " } ] } }\n";
  }
  const ByteVec bytes = regionFromText(text);
  constexpr int kFiles = 240;
  auto writeAll = [&] {
    for (int i = 0; i < kFiles; ++i) writeFile(region + "/r." + std::to_string(i) + ".0.mca", bytes);
  };
  const std::vector<std::string> args = {"-j", "32", dir.file("w")};
  writeAll();
  const auto begin = std::chrono::steady_clock::now();
  waitpid(start(args), nullptr, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  constexpr int kTries = 40;
  int ended = 0;
  for (int i = 0; i < kTries; ++i) {
    writeAll();
    const pid_t pid = start(args);
    // Over the whole run, and past it on a slower machine.
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds * 1.2 * (i + 0.5) / kTries));
    const int signal = i % 2 ? SIGTERM : SIGINT;
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    ended += WIFSIGNALED(status) && WTERMSIG(status) == signal;
    for (const std::string& name : namesIn(region)) {
      ASSERT_EQ(name.find(".pagemend-"), std::string::npos) << "try " << i << " left " << name;
    }
  }
  std::cout << kTries << " signals over a " << seconds << " s run of " << kFiles << " rewrites: " << ended
            << " ended the run, the others came after its end\n";
}

}  // namespace
