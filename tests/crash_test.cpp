// Killing a run at any moment leaves either the whole original region or the
// whole repaired one at the path; what killed runs leave beside it are their
// temporary files, which the next complete rewrite removes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "support/run.h"

extern char** environ;

using namespace testing_support;

namespace {

// Many chunks of moderately compressible data, each with a plain-text book,
// so that the rewrite compresses every one of them afresh and takes a while.
ByteVec largeRegion() {
  std::mt19937 rng(42);
  RegionBuilder region;
  const Bytes chest = container("minecraft:chest", 0, 0, 0, {writtenBook("T", {"plain text"})});
  for (int n = 0; n < 250; ++n) {
    Bytes b;
    b.u8(10).str("").compoundEntry("Level").named(7, "Data").u32(40000);
    for (int i = 0; i < 40000; ++i) b.u8(rng() % 16);
    b.named(9, "TileEntities").raw(compoundList({chest}).data()).end().end();
    region.chunk(n % 32, n / 32, b);
  }
  return region.build();
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

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(CrashSafety, KilledRewriteLeavesTheOriginalOrTheRepairedFile) {
  ScratchDir dir;
  const ByteVec original = largeRegion();
  const std::string path = dir.file("r.0.0.mca");

  writeFile(path, original);
  auto begin = std::chrono::steady_clock::now();
  pid_t reference = start(path);
  int status;
  waitpid(reference, &status, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const ByteVec repaired = readFile(path);
  ASSERT_NE(repaired, original);

  // 50 moments spread over the run as measured, then 5 well past it, for a
  // machine that happens to be slower during the kills.
  constexpr int kWithin = 50, kMoments = 55;
  auto moment = [&](int i) {
    return i < kWithin ? seconds * (i + 0.5) / kWithin : seconds * (1.0 + 0.5 * (i - kWithin + 1));
  };
  int keptOriginal = 0, keptRepaired = 0, leftovers = 0;
  for (int i = 0; i < kMoments; ++i) {
    writeFile(path, original);
    pid_t pid = start(path);
    std::this_thread::sleep_for(std::chrono::duration<double>(moment(i)));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);

    ByteVec now = readFile(path);
    if (now == original) {
      ++keptOriginal;
    } else {
      ASSERT_EQ(now, repaired) << "killed after " << moment(i) << " s: damaged region";
      ++keptRepaired;
    }
    // A killed run may leave its temporary file, and so may runs killed
    // before it that never reached the removal of leftovers.
    for (const std::string& name : namesIn(dir.path())) {
      ASSERT_TRUE(name == "r.0.0.mca" || (name.rfind(".r.0.0.mca.pagemend-", 0) == 0 && name.size() > 24 &&
                                          name.compare(name.size() - 4, 4, ".tmp") == 0))
          << "unexpected file " << name;
      if (i == kMoments - 1) leftovers += name != "r.0.0.mca";
    }
  }
  // How the kills fell depends on the machine's load; only the outcome above is promised.
  std::cout << kMoments << " kills over a " << seconds << " s run: " << keptOriginal << " left the original, "
            << keptRepaired << " the repaired file; " << leftovers << " temporary files were left after the last kill\n";

  // The next rewrite removes what a killed run left.
  writeFile(path, original);
  EXPECT_EQ(runPagemend({path}).exitCode, 0);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.0.0.mca"});
  EXPECT_EQ(readFile(path), repaired);
}

}  // namespace
