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
pid_t start(const std::string& path, bool closed = false) {
  pid_t pid;
  std::string binary = PAGEMEND_BINARY;
  char* argv[] = {binary.data(), const_cast<char*>(path.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (closed) {
    posix_spawn_file_actions_addclose(&actions, 0);
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  EXPECT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST(Safety, AKilledRunLeavesTheOriginalOrTheRepairedRegion) {
  // Many chunks, each with a book, so that the rewrite compresses every one afresh and takes a while.
  std::string text;
  for (int n = 0; n < 250; ++n) {
    text += "chunk " + std::to_string(n % 32) + " " + std::to_string(n / 32) +
            " compound \"\" { compound Level { u8 7 str Data u32 40000 random 40000 " + std::to_string(n) +
            " list TileEntities compound [ { string id c list Items compound [ { string id minecraft:written_book "
            "compound tag { string title T list pages string [ \"plain text\" ] } } ] } ] } }\n";
  }
  const ByteVec original = regionFromText(text);
  ScratchDir dir;
  const std::string path = dir.file("r.0.0.mca");
  writeFile(path, original);
  const auto begin = std::chrono::steady_clock::now();
  waitpid(start(path), nullptr, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  const ByteVec repaired = readFile(path);
  ASSERT_NE(repaired, original);

  // 50 moments spread over the run as measured, then 5 past it for a slower
  // machine; every other run with standard input and output closed.
  int keptOriginal = 0;
  for (int i = 0; i < 55; ++i) {
    writeFile(path, original);
    const pid_t pid = start(path, i % 2 == 1);
    std::this_thread::sleep_for(std::chrono::duration<double>(i < 50 ? seconds * (i + 0.5) / 50 : seconds * (1 + 0.5 * (i - 49))));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const ByteVec now = readFile(path);
    ASSERT_TRUE(now == original || now == repaired) << "killed at moment " << i << ": a damaged region";
    keptOriginal += now == original;
    for (const std::string& name : namesIn(dir.path())) {
      const std::string pid = name.substr(std::min(name.size(), size_t{20}), name.size() > 24 ? name.size() - 24 : 0);
      ASSERT_TRUE(name == "r.0.0.mca" || (name.rfind(".r.0.0.mca.pagemend-", 0) == 0 && name.size() > 24 &&
                                          name.compare(name.size() - 4, 4, ".tmp") == 0 &&
                                          pid.find_first_not_of("0123456789") == std::string::npos))
          << "unexpected file " << name;
    }
  }
  std::cout << "55 kills over a " << seconds << " s run: " << keptOriginal << " left the original, " << 55 - keptOriginal
            << " the repaired region\n";
  writeFile(path, original);
  int status;
  waitpid(start(path, true), &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.0.0.mca"});
  EXPECT_EQ(readFile(path), repaired);
}

}  // namespace
