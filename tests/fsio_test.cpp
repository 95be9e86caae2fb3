// Careful replacement of files, and the guard that removes what a killed
// replacement leaves: through the library itself, with failures the system
// rarely gives made on purpose.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "fsio/files.h"
#include "fsio/replacement.h"
#include "fsio/signal_guard.h"
#include "support/run.h"

using namespace testing_support;

namespace {

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(std::filesystem::u8path(dir))) names.push_back(e.path().filename().u8string());
  std::sort(names.begin(), names.end());
  return names;
}

bool put(int fd, const char* text) { return fsio::writeFully(fd, 0, reinterpret_cast<const uint8_t*>(text), std::strlen(text)); }

#ifndef _WIN32

void (*handlerOf(int signal))(int) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return current.sa_handler;
}

void customHandler(int) {}

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

#endif

TEST(Replacement, AFileIsReplacedWholeOrNotAtAll) {
  ScratchDir dir;
  const std::string path = dir.file("r.0.0.mca");
  writeFile(path, {1, 2, 3});
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesW(std::filesystem::u8path(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
#else
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
#endif
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
  ASSERT_TRUE(put(failing.fd(), "new"));
  ASSERT_FALSE(failing.finish());
  fsio::failNextCall(fsio::Call::rename, EIO);
  EXPECT_EQ(failing.commit().kind, fsio::Failure::writeFailed);
  failing.abort();
  EXPECT_EQ(readFile(path), (ByteVec{1, 2, 3}));
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.0.0.mca"});

  // Replaced, it keeps the old file's mode (on Windows, its attributes).
  fsio::Replacement replaced;
  ASSERT_FALSE(replaced.begin(path));
  ASSERT_TRUE(put(replaced.fd(), "new"));
  ASSERT_FALSE(replaced.finish());
  ASSERT_FALSE(replaced.commit());
  EXPECT_EQ(readFile(path), (ByteVec{'n', 'e', 'w'}));
#ifdef _WIN32
  EXPECT_EQ(GetFileAttributesW(std::filesystem::u8path(path).c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD{FILE_ATTRIBUTE_HIDDEN});
#else
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif
}

TEST(Replacement, AFileCommittedWithTheOldKeptCanBeTakenBack) {
  ScratchDir dir;
  const std::string old = dir.file("c.0.0.mcc"), fresh = dir.file("c.1.0.mcc");
  writeFile(old, {1});
  for (const bool back : {true, false}) {
    fsio::Replacement a, b;
    ASSERT_FALSE(a.begin(old));
    ASSERT_FALSE(b.begin(fresh));
    ASSERT_TRUE(put(a.fd(), "A"));
    ASSERT_TRUE(put(b.fd(), "B"));
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

// Where no link can be made (FAT), the old file is kept aside as a copy,
// which must be whole: a file of several pieces of the copy comes back
// exactly.
TEST(Replacement, AnOldFileKeptAsACopyComesBackWhole) {
  ScratchDir dir;
  const std::string path = dir.file("c.0.0.mcc");
  ByteVec old(3 * 1024 * 1024 + 5);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  writeFile(path, old);
  fsio::Replacement file;
  ASSERT_FALSE(file.begin(path));
  ASSERT_TRUE(put(file.fd(), "new"));
  ASSERT_FALSE(file.finish());
  fsio::failNextCall(fsio::Call::link, EXDEV);
  ASSERT_FALSE(file.commit(true));
  EXPECT_EQ(readFile(path), (ByteVec{'n', 'e', 'w'}));
  file.rollBack();
  EXPECT_EQ(readFile(path), old);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"c.0.0.mcc"});
}

// An old file a run moved aside and could not put back (it ended first) is
// the only copy: the next replacement of the file, or restoreSetAside,
// puts it back where the file is missing, and none ever removes it where a
// file is there (the game may have made that one since).
TEST(Replacement, AnOldFileLeftAsideComesBackAndIsNeverRemoved) {
  ScratchDir dir;
  const std::string path = dir.file("r.0.0.mca"), aside = dir.file(".r.0.0.mca.pagemend-999999999.was");
  writeFile(aside, {1, 2, 3});
  fsio::Replacement replaced;
  ASSERT_FALSE(replaced.begin(path));
  ASSERT_NE(replaced.old(), nullptr);
  EXPECT_EQ(readFile(path), (ByteVec{1, 2, 3}));
  replaced.abort();
  writeFile(aside, {4});
  fsio::Replacement again;
  ASSERT_FALSE(again.begin(path));
  again.abort();
  EXPECT_EQ(readFile(aside), ByteVec{4});
#ifdef _WIN32
  std::filesystem::remove(std::filesystem::u8path(path));
  fsio::restoreSetAside(dir.path());
  EXPECT_EQ(readFile(path), ByteVec{4});
#endif
}

#ifdef _WIN32

// Names no code page holds, in a path longer than Windows' old limit of 260.
TEST(Replacement, NamesOfAnyLengthAndScriptAreReplacedAndRead) {
  ScratchDir dir;
  std::string folder = dir.path();
  while (folder.size() < 300) folder += "/Welt \xc3\xbc\xe4\xb8\x96\xe7\x95\x8c \xf0\x9f\x93\x96";
  std::filesystem::create_directories(std::filesystem::u8path(folder));
  const std::string path = folder + "/r.0.0.mca";
  writeFile(path, {1});
  fsio::FileInfo info;
  ASSERT_TRUE(fsio::infoAt(path, info));
  EXPECT_EQ(info.size, 1);
  fsio::Replacement replaced;
  ASSERT_FALSE(replaced.begin(path));
  ASSERT_TRUE(put(replaced.fd(), "new"));
  ASSERT_FALSE(replaced.finish());
  ASSERT_FALSE(replaced.commit());
  const int fd = fsio::openToRead(path);
  ASSERT_GE(fd, 0);
  uint8_t read[8];
  EXPECT_EQ(fsio::readAt(fd, read, sizeof read, 0), 3);
  fsio::closeFile(fd);
  std::vector<std::string> names;
  ASSERT_TRUE(fsio::folderEntries(folder, names));
  EXPECT_EQ(names, std::vector<std::string>{"r.0.0.mca"});
  EXPECT_EQ(fsio::realPathOf(path).substr(fsio::realPathOf(path).size() - 20), path.substr(path.size() - 20));
}

// A file another program holds open without letting it be removed (as
// some scanners of viruses do): the rename is tried a while, then refused
// as such, and the old file stays whole; once it lets go, the rename holds.
TEST(Replacement, AFileHeldByAnotherProgramIsLeftWholeAndSaidToBeInUse) {
  ScratchDir dir;
  const std::string path = dir.file("r.0.0.mca");
  writeFile(path, {1, 2, 3});
  const HANDLE holder = CreateFileW(std::filesystem::u8path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  fsio::Replacement held;
  const fsio::Failure begun = held.begin(path);
  ASSERT_FALSE(begun) << begun.kind;
  ASSERT_TRUE(put(held.fd(), "new"));
  ASSERT_FALSE(held.finish());
  EXPECT_EQ(held.commit().kind, fsio::Failure::inUse);
  held.abort();
  CloseHandle(holder);
  EXPECT_EQ(readFile(path), (ByteVec{1, 2, 3}));
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"r.0.0.mca"});
}

// Paths as Windows users write them: found files named in the same way,
// and a drive's root never made the drive's current folder.
TEST(Files, WindowsPathsKeepTheirFormAndTheirRoots) {
  EXPECT_EQ(fsio::joined("C:\\saves\\My World", "region"), "C:\\saves\\My World\\region");
  EXPECT_EQ(fsio::joined("C:/saves/My World", "region"), "C:/saves/My World/region");
  EXPECT_EQ(fsio::joined("D:\\", "r.0.0.mca"), "D:\\r.0.0.mca");
  EXPECT_EQ(fsio::withoutTrailingSeparators("C:\\saves\\My World\\"), "C:\\saves\\My World");
  EXPECT_EQ(fsio::withoutTrailingSeparators("C:\\"), "C:\\");
  EXPECT_EQ(fsio::directoryOf("C:/r.0.0.mca"), "C:/");
  EXPECT_EQ(fsio::directoryOf("C:\\saves\\r.0.0.mca"), "C:\\saves");
  EXPECT_EQ(fsio::baseNameOf("C:\\saves\\r.0.0.mca"), "r.0.0.mca");
}

// The game locks session.lock whole with LockFileEx while the world is open.
TEST(Files, ASessionLockHeldByTheGameIsTold) {
  ScratchDir dir;
  const std::string path = dir.file("session.lock");
  EXPECT_EQ(fsio::lockOf(path), fsio::Lock::none);
  writeFile(path, {0xE2, 0x98, 0x83});
  EXPECT_EQ(fsio::lockOf(path), fsio::Lock::free);
  const HANDLE game = CreateFileW(std::filesystem::u8path(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(game, INVALID_HANDLE_VALUE);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(game, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole));
  EXPECT_EQ(fsio::lockOf(path), fsio::Lock::held);
  UnlockFileEx(game, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(game);
  EXPECT_EQ(fsio::lockOf(path), fsio::Lock::free);
}

#endif

}  // namespace
