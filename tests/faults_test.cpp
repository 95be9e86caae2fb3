// Faults from outside the input's format: a full disk during the rewrite,
// hostile sizes, and memory errors under valgrind.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <random>

#include "support/real_regions.h"
#include "support/region_view.h"
#include "support/run.h"

using namespace testing_support;

namespace {

#ifdef PAGEMEND_SANITIZED
// The sanitizers' own bookkeeping makes peak memory meaningless, and valgrind
// cannot run a sanitized binary.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const Bytes kChestWithPlainBook = container("minecraft:chest", 1, 2, 3, {writtenBook("T", {"plain text"})});

struct Usage {
  RunResult result;
  long maxRssKiB = 0;
};

// Runs a command without a shell between, measuring its peak memory.
Usage runMeasured(const std::vector<std::string>& args) {
  std::string out = ScratchDir().path();  // a name only; the folder is gone
  int pipeFds[2];
  EXPECT_EQ(pipe(pipeFds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  Usage usage;
  char buf[4096];
  for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) usage.result.output.append(buf, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  usage.result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  usage.maxRssKiB = ru.ru_maxrss;
  return usage;
}

// About 1 GiB of zeros as one zlib stream, made without holding it in memory.
ByteVec zlibBomb() {
  z_stream zs{};
  deflateInit(&zs, 9);
  static const uint8_t zeros[1 << 20] = {};
  ByteVec out;
  uint8_t buf[1 << 16];
  for (int i = 0; i < 1024; ++i) {
    zs.next_in = const_cast<uint8_t*>(zeros);
    zs.avail_in = sizeof zeros;
    int flush = i == 1023 ? Z_FINISH : Z_NO_FLUSH;
    do {
      zs.next_out = buf;
      zs.avail_out = sizeof buf;
      deflate(&zs, flush);
      out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
    } while (zs.avail_out == 0);
  }
  deflateEnd(&zs);
  return out;
}

TEST(Faults, FullDiskDuringTheRewriteLeavesTheOriginal) {
  ScratchDir dir;
  std::string mountPoint = dir.file("small");
  std::filesystem::create_directory(mountPoint);
  // Noise makes the region large enough that a second copy cannot fit.
  Bytes noise;
  noise.u8(10).str("").compoundEntry("Level").named(7, "Noise").u32(150000);
  std::mt19937 rng(3);
  for (int i = 0; i < 150000; ++i) noise.u8(rng() & 0xFF);
  noise.listEntry("TileEntities", 10, 0).end().end();
  ByteVec input = RegionBuilder().chunk(0, 0, chunkWith({kChestWithPlainBook})).chunk(1, 0, noise).build();

  const bool mounted = mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") == 0;
  std::string path = mountPoint + "/r.0.0.mca";
  writeFile(path, input);
  std::string command = testing_support::quoted(PAGEMEND_BINARY) + " " + testing_support::quoted(path);
  if (!mounted) {
    // No right to mount here: a file size limit fails the writes the same way.
    std::cout << "tmpfs not mountable; limiting the file size instead\n";
    command = "trap '' XFSZ; ulimit -f 200; exec " + command;
  }
  RunResult r = runCommand("bash -c " + testing_support::quoted(command));
  std::string reason = mounted ? "No space left on device" : "File too large";
  EXPECT_EQ(r.output, "Book 'T' in minecraft:chest at 1,2,3 page 0 repaired\nError: unable to write file '" + path +
                          "' (" + reason + "); it is left as it was!\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(readFile(path), input);
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(mountPoint)) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"r.0.0.mca"});
  if (mounted) umount(mountPoint.c_str());
}

TEST(Faults, ZlibBombIsRefusedAndKeptAsStored) {
  ByteVec bomb = zlibBomb();
  ByteVec record = rawRecord(static_cast<uint32_t>(bomb.size() + 1), 2, bomb);
  ByteVec input = RegionBuilder().chunk(0, 0, chunkWith({kChestWithPlainBook})).record(1, 0, record).build();
  ScratchDir dir;
  std::string path = dir.file("r.0.0.mca");
  writeFile(path, input);
  Usage u = runMeasured({PAGEMEND_BINARY, path});
  EXPECT_EQ(u.result.output,
            "Book 'T' in minecraft:chest at 1,2,3 page 0 repaired\n"
            "Error: Chunk 1,0 decompresses to more than 256 MiB, far beyond any chunk the game writes; it is left "
            "as it is\n");
  EXPECT_EQ(u.result.exitCode, 0);
  EXPECT_EQ(recordAt(readFile(path), 1, 0), record);
  std::cout << "zlib bomb of " << bomb.size() << " bytes: peak memory " << u.maxRssKiB / 1024 << " MiB\n";
  if (!kSanitized) {
    EXPECT_LT(u.maxRssKiB, 400 * 1024);
  }
}

TEST(Faults, HostileCountsAndNestingStayCheap) {
  Bytes deep;
  deep.u8(10).str("");
  for (int i = 0; i < 100000; ++i) deep.listEntry("l", 9, 1).u8(10).u32(1);
  Bytes ends;
  ends.u8(10).str("").listEntry("ends", 0, 0x7FFFFFFF).end();
  Bytes array;  // a 100-byte chunk claiming 2^31-1 longs
  array.u8(10).str("").named(12, "a").u32(0x7FFFFFFF);
  while (array.size() < 100) array.u8(0);
  ScratchDir dir;
  std::string path = dir.file("r.0.0.mca");
  writeFile(path, RegionBuilder().chunk(0, 0, deep).chunk(1, 0, ends).chunk(2, 0, array).build());
  Usage u = runMeasured({PAGEMEND_BINARY, path});
  EXPECT_EQ(u.result.output,
            "Error: Chunk 0,0 contained invalid root tag!\n"
            "Error: Chunk 1,0 contained invalid root tag!\n"
            "Error: Chunk 2,0 contained invalid root tag!\n"
            "No fixable problems found in '" + path + "'.\n");
  std::cout << "hostile sizes: peak memory " << u.maxRssKiB / 1024 << " MiB\n";
  if (!kSanitized) {
    EXPECT_LT(u.maxRssKiB, 100 * 1024);
  }
}

}  // namespace
