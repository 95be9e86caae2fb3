// Careful replacement of files, and the guard that removes what a killed
// replacement leaves: through the library itself, with failures the system
// rarely gives made on purpose.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "fsio/replacement.h"
#include "fsio/signal_guard.h"
#include "support/run.h"

using namespace testing_support;

namespace {

void (*handlerOf(int signal))(int) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return current.sa_handler;
}

void customHandler(int) {}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(SignalGuard, LeavesIgnoredSignalsIgnoredAndPutsBackExactlyWhatItFound) {
  ScratchDir dir;
  signal(SIGHUP, SIG_IGN);
  signal(SIGINT, customHandler);
  signal(SIGTERM, SIG_DFL);
  {
    fsio::PendingFile pending;
    ASSERT_TRUE(pending.hold(dir.file("a").c_str()));
    EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);  // under nohup, a hang-up must not end the run
    EXPECT_NE(handlerOf(SIGINT), customHandler);
    EXPECT_NE(handlerOf(SIGTERM), SIG_DFL);
    fsio::PendingFile second;  // a second file at once: released in any order
    ASSERT_TRUE(second.hold(dir.file("b").c_str()));
    pending.release();
    EXPECT_NE(handlerOf(SIGTERM), SIG_DFL);
  }
  EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
  EXPECT_EQ(handlerOf(SIGINT), customHandler);
  EXPECT_EQ(handlerOf(SIGTERM), SIG_DFL);
  signal(SIGHUP, SIG_DFL);
  signal(SIGINT, SIG_DFL);
}

TEST(SignalGuard, ATerminatingSignalRemovesTheFilesAndEndsTheProcessAnIgnoredOneDoesNeither) {
  ScratchDir dir;
  for (const bool ignored : {false, true}) {
    const std::string path = dir.file(ignored ? "kept" : "removed");
    const pid_t child = fork();
    if (child == 0) {
      if (ignored) signal(SIGHUP, SIG_IGN);
      writeFile(path, {1});
      fsio::PendingFile pending;
      pending.hold(path.c_str());
      raise(SIGHUP);
      _exit(7);  // only where the signal was ignored
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (ignored) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7);
      EXPECT_TRUE(std::filesystem::exists(path));
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP);
      EXPECT_FALSE(std::filesystem::exists(path));
    }
  }
}

TEST(Replacement, AFileIsReplacedWholeOrNotAtAll) {
  ScratchDir dir;
  const std::string path = dir.file("r.0.0.mca");
  writeFile(path, {1, 2, 3});
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  // A leftover of a killed run (no process has this id) goes at the next replacement.
  writeFile(dir.file(".r.0.0.mca.pagemend-999999999.tmp"), {9});

  // Permissions the new file cannot take: the old file stays, and nothing beside it.
  fsio::Replacement refused;
  fsio::failNextCall(fsio::Call::fchmod, EPERM);
  const fsio::Failure failure = refused.begin(path);
  EXPECT_EQ(failure.kind, fsio::Failure::modeNotKept);
  EXPECT_EQ(failure.error, EPERM);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.0.0.mca"});

  // A rename that fails leaves the old file too.
  fsio::Replacement failing;
  ASSERT_FALSE(failing.begin(path));
  ASSERT_EQ(write(failing.fd(), "new", 3), 3);
  ASSERT_FALSE(failing.finish());
  fsio::failNextCall(fsio::Call::rename, EIO);
  EXPECT_EQ(failing.commit().kind, fsio::Failure::writeFailed);
  failing.abort();
  EXPECT_EQ(readFile(path), (ByteVec{1, 2, 3}));
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.0.0.mca"});

  // Replaced, it keeps the old file's mode.
  fsio::Replacement replaced;
  ASSERT_FALSE(replaced.begin(path));
  ASSERT_EQ(write(replaced.fd(), "new", 3), 3);
  ASSERT_FALSE(replaced.finish());
  ASSERT_FALSE(replaced.commit());
  EXPECT_EQ(readFile(path), (ByteVec{'n', 'e', 'w'}));
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(Replacement, AFileCommittedWithTheOldKeptCanBeTakenBack) {
  ScratchDir dir;
  const std::string old = dir.file("c.0.0.mcc"), fresh = dir.file("c.1.0.mcc");
  writeFile(old, {1});
  for (const bool back : {true, false}) {
    fsio::Replacement a, b;
    ASSERT_FALSE(a.begin(old));
    ASSERT_FALSE(b.begin(fresh));
    ASSERT_EQ(write(a.fd(), "A", 1), 1);
    ASSERT_EQ(write(b.fd(), "B", 1), 1);
    ASSERT_FALSE(a.finish());
    ASSERT_FALSE(b.finish());
    ASSERT_FALSE(a.commit(true));
    ASSERT_FALSE(b.commit(true));
    EXPECT_EQ(readFile(old), ByteVec{'A'});
    if (back) {
      a.rollBack();
      b.rollBack();
      EXPECT_EQ(readFile(old), ByteVec{1});  // as it was
      EXPECT_FALSE(std::filesystem::exists(fresh));  // as it was: not there
    } else {
      a.settle();
      b.settle();
      EXPECT_EQ(readFile(fresh), ByteVec{'B'});
    }
    const std::vector<std::string> expected = back ? std::vector<std::string>{"c.0.0.mcc"}
                                                   : std::vector<std::string>{"c.0.0.mcc", "c.1.0.mcc"};
    EXPECT_EQ(namesIn(dir.path()), expected);
  }
}

}  // namespace
