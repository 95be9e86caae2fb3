// Faults from outside the input's format, through the real binary: runs
// killed at any moment, and a full disk.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/run.h"

extern char** environ;

using namespace testing_support;

namespace {

const std::string kChest =
    "{ string id minecraft:chest int x 1 int y 2 int z 3 list Items compound [ { string id minecraft:written_book "
    "compound tag { string title T list pages string [ \"plain text\" ] } } ] }";
const std::string kBookChunk = "chunk 0 0 compound \"\" { compound Level { list TileEntities compound [ " + kChest + " ] } }";
const std::string kRepairLine = "Book 'T' in minecraft:chest at 1,2,3 page 0 repaired\n";

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

pid_t start(const std::string& path) {
  pid_t pid;
  std::string binary = PAGEMEND_BINARY;
  char* argv[] = {binary.data(), const_cast<char*>(path.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  EXPECT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Runs pagemend on `path` and waits; its exit code.
int runToTheEnd(const std::string& path) {
  int status = 0;
  waitpid(start(path), &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Safety, AKilledRunLeavesTheOriginalOrTheRepairedRegion) {
  // Many chunks, each with a book, so that the rewrite compresses every one afresh and takes a while.
  std::string text;
  for (int n = 0; n < 250; ++n) {
    text += "chunk " + std::to_string(n % 32) + " " + std::to_string(n / 32) +
            " compound \"\" { compound Level { u8 7 str Data u32 40000 random 40000 " + std::to_string(n) +
            " list TileEntities compound [ " + kChest + " ] } }\n";
  }
  const ByteVec original = regionFromText(text);
  ScratchDir dir;
  const std::string path = dir.file("r.0.0.mca");
  writeFile(path, original);
  auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(runToTheEnd(path), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const ByteVec repaired = readFile(path);
  ASSERT_NE(repaired, original);

  // 50 moments spread over the run as measured, then 5 past it for a slower machine.
  int keptOriginal = 0, keptRepaired = 0;
  for (int i = 0; i < 55; ++i) {
    writeFile(path, original);
    const pid_t pid = start(path);
    std::this_thread::sleep_for(std::chrono::duration<double>(i < 50 ? seconds * (i + 0.5) / 50 : seconds * (1 + 0.5 * (i - 49))));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const ByteVec now = readFile(path);
    ASSERT_TRUE(now == original || now == repaired) << "killed after " << i << " steps: a damaged region";
    (now == original ? keptOriginal : keptRepaired)++;
    // Beside it at most temporary files of killed runs, which never reached the removal of leftovers.
    for (const std::string& name : namesIn(dir.path())) {
      ASSERT_TRUE(name == "r.0.0.mca" || (name.rfind(".r.0.0.mca.pagemend-", 0) == 0 && name.size() > 24 &&
                                          name.compare(name.size() - 4, 4, ".tmp") == 0))
          << "unexpected file " << name;
    }
  }
  std::cout << "55 kills over a " << seconds << " s run: " << keptOriginal << " left the original, " << keptRepaired
            << " the repaired region\n";
  // The next complete rewrite removes what the killed runs left.
  writeFile(path, original);
  EXPECT_EQ(runPagemend({path}).exitCode, 0);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.0.0.mca"});
  EXPECT_EQ(readFile(path), repaired);
}

TEST(Safety, AFullDiskLeavesTheOriginal) {
  ScratchDir dir;
  const std::string mountPoint = dir.file("small");
  std::filesystem::create_directory(mountPoint);
  // Noise makes the region large enough that a second copy cannot fit.
  const ByteVec input = regionFromText(kBookChunk + "\nchunk 1 0 compound \"\" { compound Level { u8 7 str Noise u32 150000 random 150000 3 } }");
  const bool mounted = mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") == 0;
  const std::string path = mountPoint + "/r.0.0.mca";
  writeFile(path, input);
  std::string command = quoted(PAGEMEND_BINARY) + " " + quoted(path);
  if (!mounted) {
    std::cout << "tmpfs not mountable here; a file size limit fails the writes instead\n";
    command = "trap '' XFSZ; ulimit -f 200; exec " + command;
  }
  RunResult r = runCommand("bash -c " + testing_support::quoted(command));
  EXPECT_EQ(r.output, kRepairLine + "Error: unable to write file '" + path + "' (" +
                          (mounted ? "No space left on device" : "File too large") + "); it is left as it was!\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(readFile(path), input);
  EXPECT_EQ(namesIn(mountPoint), std::vector<std::string>{"r.0.0.mca"});
  if (mounted) umount(mountPoint.c_str());
}

}  // namespace
