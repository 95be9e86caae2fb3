// Every folder under tests/cases is a case:
//   region.txt (see support/region_text.h), input.mca, or `from` ("real NAME"
//     for a region of ../shared/regions, "repo PATH" for a file here, with
//     region.txt's records added to it): the file REGION, if the case has one;
//   command: a shell command line (default "pagemend REGION"), in which
//     pagemend, pagemend-dump, pagemend-world, REGION, FOLDER (REGION's
//     folder) and MISSING (a file that is not there) stand for what they name;
//   expected: what it prints (standard output and error, the paths as those
//     words), then "exit N"; a command that cannot run here prints
//     "skipped: WHY" and exits 77 (PAGEMEND_SANITIZED is set in the
//     sanitizer build);
//   result.txt: the chunks the run writes afresh, compared through their
//     inflated bytes (so zlib's version does not matter); every other slot
//     must hold what it held. Without it, the region must be left as it was
//     unless a page was repaired and the run succeeded (exit 0, or 3: a check
//     that came last found more to repair);
//   unchanged: the region must be left as it was, whatever was printed;
//   files/PATH.txt: BYTES (see support/region_text.h) written to FOLDER/PATH.
// A case that runs pagemend runs twice, with libdeflate on two threads and
// with zlib alone on one, keeping no new record from the scan for the
// rewrite (PAGEMEND_RECORD_BUDGET=0), which must agree. A region it rewrote must be laid
// out as the README says, keep every chunk and its timestamps, and have
// nothing left to repair.
// PAGEMEND_RECORD_CASES=1 writes `expected` from what the command printed,
// for a new case: read it before committing it.
// PAGEMEND_PROGRAMS=DIR runs DIR's pagemend, pagemend-dump and
// pagemend-world in place of those built here (the Windows programs under
// Wine, through scripts of those names), with the same expectations, but
// for the cases named in the file PAGEMEND_EXCEPTIONS ("NAME: WHY" lines),
// which are skipped and say why.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <cstring>
#include <sstream>

#include "anvil/layout.h"
#include "support/run.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace anvil;

namespace {

std::string textOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Input {
  bool present = false;
  ByteVec bytes;
  std::string skip;  // why the case cannot run here
  std::vector<std::pair<std::string, ByteVec>> files;  // beside the region, by path
};

Input inputOf(const fs::path& dir) {
  Input in;
  if (fs::exists(dir / "from")) {
    std::istringstream from(textOf(dir / "from"));
    std::string kind, name;
    from >> kind >> name;
    const std::string folder = kind == "real" ? realRegionsDir() : PAGEMEND_SOURCE_DIR;
    if (folder.empty()) {
      in.skip = "real region files (../shared/regions) absent";
      return in;  // nothing to add region.txt's records to
    }
    in.bytes = readFile(folder + "/" + name);
  }
  if (fs::exists(dir / "input.mca")) in.bytes = readFile(dir / "input.mca");
  if (fs::exists(dir / "region.txt")) in.bytes = regionFromText(textOf(dir / "region.txt"), in.bytes);
  in.present = fs::exists(dir / "from") || fs::exists(dir / "input.mca") || fs::exists(dir / "region.txt");
  if (fs::is_directory(dir / "files")) {
    for (const auto& entry : fs::recursive_directory_iterator(dir / "files")) {
      if (!entry.is_regular_file()) continue;
      const std::string name = fs::relative(entry.path(), dir / "files").string();
      in.files.emplace_back(name.substr(0, name.size() - 4), bytesFromText(textOf(entry.path())));
    }
  }
  return in;
}

// Where `word` stands alone in a command line (not inside a longer word or
// name), from `at`; npos when it does not.
size_t findWord(const std::string& line, const std::string& word, size_t at = 0) {
  auto separates = [](char c, const char* others) { return std::isspace(static_cast<unsigned char>(c)) || std::strchr(others, c); };
  for (; (at = line.find(word, at)) != std::string::npos; at += word.size()) {
    const size_t end = at + word.size();
    if ((at == 0 || separates(line[at - 1], ";(|&")) && (end == line.size() || separates(line[end], ";/)|&"))) return at;
  }
  return std::string::npos;
}

using ChunkFiles = std::map<std::string, ByteVec>;  // c.X.Z.mcc beside the region, by name

struct Outcome {
  std::string output;  // with "exit N" last
  ByteVec after;
  ChunkFiles chunkFiles;
};

std::string program(const char* name, const char* built) {
  const char* programs = std::getenv("PAGEMEND_PROGRAMS");
  return programs ? std::string(programs) + "/" + name : built;
}

// Why a case cannot hold with the programs of PAGEMEND_PROGRAMS; "" where it holds.
std::string exceptionFor(const std::string& name) {
  const char* list = std::getenv("PAGEMEND_EXCEPTIONS");
  if (!list || !std::getenv("PAGEMEND_PROGRAMS")) return "";
  std::istringstream lines(textOf(list));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name + ": ", 0) == 0) return line.substr(name.size() + 2);
  }
  return "";
}

// Runs a command line in a scratch folder, with these variables set.
Outcome run(const std::string& command, const Input& input, const std::string& variables) {
  ScratchDir scratch;
  const std::string pagemend = program("pagemend", PAGEMEND_BINARY);
  const std::vector<std::pair<std::string, std::string>> words = {
      {"REGION", scratch.file("r.0.0.mca")}, {"MISSING", scratch.file("missing.mca")}, {"FOLDER", scratch.path()},
      {"pagemend-dump", program("pagemend-dump", PAGEMEND_DUMP_BINARY)},
      {"pagemend-world", program("pagemend-world", PAGEMEND_WORLD_BINARY)}, {"pagemend", pagemend}};
  if (input.present) writeFile(words[0].second, input.bytes);
  for (const auto& [name, bytes] : input.files) {
    fs::create_directories((fs::path(scratch.path()) / name).parent_path());
    writeFile(scratch.file(name), bytes);
  }
  std::string line = command;
  for (const auto& [word, path] : words) {
    for (size_t at = 0; (at = findWord(line, word, at)) != std::string::npos; at += path.size()) line.replace(at, word.size(), path);
  }
  std::string prefix = "export PAGEMEND=" + quoted(pagemend) + " " + variables + "; ";
#ifdef PAGEMEND_SANITIZED
  // The sanitizers need far more address space than a limit allows.
  prefix += "export PAGEMEND_SANITIZED=1; prlimit() { shift; \"$@\"; }; ";
#endif
  const RunResult r = runCommand(prefix + "{ " + line + "\n}");
  Outcome out{r.output + "exit " + std::to_string(r.exitCode) + "\n", {}, {}};
  for (const auto& [word, path] : words) {
    // (Windows programs name a folder they found by its real path, under Wine on drive Z:.)
    for (const std::string& named : {"Z:" + path, path}) {
      for (size_t at = 0; (at = out.output.find(named, at)) != std::string::npos; at += word.size()) {
        out.output.replace(at, named.size(), word);
      }
    }
  }
  if (input.present) out.after = readFile(words[0].second);
  for (const auto& entry : fs::directory_iterator(scratch.path())) {
    const std::string name = entry.path().filename();
    if (name.rfind("c.", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".mcc") == 0) {
      out.chunkFiles[name] = readFile(entry.path());
    }
  }
  return out;
}

// A slot's record inflated, when it is a whole zlib record that inflates,
// or a stub whose chunk file (of the region r.0.0.mca) inflates. A region
// before a run (`stored`) may hold streams short of their checksum, one
// written by a run may not.
ByteVec inflated(const ByteVec& file, int n, const ChunkFiles& chunkFiles = {}, bool stored = false) {
  const ByteVec record = recordAt(file, n);
  if (record.size() == kRecordHeaderSize && record[4] == (kZlibCompression | kExternalFlag)) {
    const auto it = chunkFiles.find("c." + std::to_string(slotX(n)) + "." + std::to_string(slotZ(n)) + ".mcc");
    return it == chunkFiles.end() ? ByteVec() : zlibInflate(it->second);
  }
  if (record.size() <= kRecordHeaderSize || record[4] != kZlibCompression) return {};
  return zlibInflate(ByteVec(record.begin() + kRecordHeaderSize, record.end()), stored);
}

// The sectors a slot's location entry claims.
ByteVec sectorsOf(const ByteVec& file, int n) {
  const Location at = loadLocation(file.data(), n);
  const size_t from = std::min(file.size(), size_t{at.sector} * kSectorSize);
  return ByteVec(file.begin() + static_cast<long>(from),
                 file.begin() + static_cast<long>(std::min(file.size(), from + size_t{at.count} * kSectorSize)));
}

// Slot by slot: a chunk that `rewritten` (a region of the chunks written
// afresh) holds inflates to the same bytes; every other slot holds what
// `input` held, byte for byte: its record (a stream short of its checksum
// completed, unless that would take it past what an entry counts), or for
// bytes that are no record, the sectors its entry claimed. Without
// `rewritten`, any chunk may have been written afresh, but none lost.
void expectChunks(const ByteVec& input, const ByteVec& rewritten, const Outcome& out) {
  const ByteVec& actual = out.after;
  for (int n = 0; n < kSlotCount; ++n) {
    SCOPED_TRACE("slot " + std::to_string(slotX(n)) + "," + std::to_string(slotZ(n)));
    const bool afresh = !rewritten.empty() && loadLocation(rewritten.data(), n).sector;
    const bool there = loadLocation(actual.data(), n).sector;
    if (!sectorsOf(afresh ? rewritten : input, n).empty() && !there) ADD_FAILURE() << "a slot that held bytes is empty";
    if (!there) continue;
    if (afresh) {
      EXPECT_EQ(inflated(rewritten, n), inflated(actual, n, out.chunkFiles)) << "chunk differs";
      continue;
    }
    const ByteVec stored = recordAt(input, n), now = recordAt(actual, n);
    const ByteVec was = inflated(input, n, {}, true);
    if (was.empty()) {
      // Not a chunk: whatever its entry claimed is carried, its record whole.
      const ByteVec claimed = sectorsOf(input, n), carried = sectorsOf(actual, n);
      EXPECT_TRUE(carried.size() >= claimed.size() && std::equal(claimed.begin(), claimed.end(), carried.begin()))
          << "stored bytes differ";
    }
    if (rewritten.empty() && !was.empty()) {
      EXPECT_FALSE(inflated(actual, n, out.chunkFiles).empty()) << "chunk lost";
    } else if (stored.empty()) {
      continue;
    } else if (now == stored) {
      EXPECT_TRUE(was.empty() || !inflated(input, n).empty() || sectorsFor(static_cast<int64_t>(stored.size()) + 4) > kMaxSectorCount)
          << "a stream short of its checksum was not completed";
    } else {
      EXPECT_TRUE(!was.empty() && now.size() > stored.size() && std::equal(stored.begin() + 4, stored.end(), now.begin() + 4) &&
                  inflated(actual, n) == was)
          << "stored bytes differ";
    }
  }
}

// Records from sector 2 in slot order without gaps, each that inflates
// followed by zeros to its sector's end (in these cases, chunks that inflate
// are loaded or written afresh), the timestamps as read; a slot that shared
// a record with an earlier one in `before` shares it in `after`.
void expectWellLaidOut(const ByteVec& before, const ByteVec& after) {
  uint32_t next = 2;
  std::map<uint32_t, Location> placed;  // by the sector of the record in `before`
  for (int n = 0; n < kSlotCount; ++n) {
    SCOPED_TRACE("slot " + std::to_string(slotX(n)) + "," + std::to_string(slotZ(n)));
    EXPECT_EQ(loadTimestamp(after.data(), n), loadTimestamp(before.data(), n));
    const Location at = loadLocation(after.data(), n);
    if (at.sector == 0) continue;
    const auto earlier = placed.find(loadLocation(before.data(), n).sector);
    if (earlier != placed.end() && earlier->second.sector == at.sector) continue;
    placed.emplace(loadLocation(before.data(), n).sector, at);
    ASSERT_EQ(at.sector, next);
    const ByteVec record = recordAt(after, n), sectors = sectorsOf(after, n);
    // A record of more sectors than an entry can count keeps the count it had.
    next += std::max<uint32_t>(at.count, static_cast<uint32_t>(sectorsFor(static_cast<int64_t>(record.size()))));
    if (inflated(after, n).empty()) continue;
    EXPECT_EQ(zlibStreamLength(ByteVec(record.begin() + kRecordHeaderSize, record.end())), record.size() - kRecordHeaderSize)
        << "the length field is not the stream's";
    EXPECT_EQ(at.count, sectorsFor(static_cast<int64_t>(record.size())));
    EXPECT_TRUE(std::all_of(sectors.begin() + static_cast<long>(record.size()), sectors.end(), [](uint8_t b) { return b == 0; }));
  }
  EXPECT_EQ(after.size(), size_t{next} * kSectorSize);
}

class Case : public testing::TestWithParam<std::string> {};

TEST_P(Case, PrintsAndLeavesWhatIsExpected) {
  const fs::path dir = fs::path(PAGEMEND_SOURCE_DIR) / "tests" / "cases" / GetParam();
  if (const std::string why = exceptionFor(GetParam()); !why.empty()) GTEST_SKIP() << why;
  const Input input = inputOf(dir);
  if (!input.skip.empty()) GTEST_SKIP() << input.skip;
  const std::string command = fs::exists(dir / "command") ? textOf(dir / "command") : "pagemend REGION";
  const size_t pagemend = findWord(command, "pagemend");
  const bool runsPagemend = pagemend != std::string::npos && std::isspace(static_cast<unsigned char>(command[pagemend + 8]));
  const Outcome out = run(command, input, "PAGEMEND_THREADS=2");
  if (out.output.rfind("skipped: ", 0) == 0 && out.output.find("exit 77\n") != std::string::npos) {
    GTEST_SKIP() << out.output.substr(9, out.output.find('\n') - 9);
  }
  if (std::getenv("PAGEMEND_RECORD_CASES")) {
    std::ofstream(dir / "expected", std::ios::binary) << out.output;
    return;
  }
  EXPECT_EQ(out.output, textOf(dir / "expected"));
  if (!runsPagemend) return;
  // The second run keeps no record for the rewrite: it makes each as it writes it.
  const Outcome zlibAlone = run(command, input, "PAGEMEND_THREADS=1 PAGEMEND_INFLATER=zlib PAGEMEND_RECORD_BUDGET=0");
  EXPECT_EQ(zlibAlone.output, out.output);
  EXPECT_TRUE(zlibAlone.after == out.after && zlibAlone.chunkFiles == out.chunkFiles);
  if (!input.present) return;  // files of other kinds: the command shows what became of them
  const bool result = fs::exists(dir / "result.txt");
  if (fs::exists(dir / "unchanged") ||
      (!result && (out.output.find(" repaired\n") == std::string::npos ||
                   (out.output.find("exit 0\n") == std::string::npos && out.output.find("exit 3\n") == std::string::npos)))) {
    EXPECT_TRUE(out.after == input.bytes) << "the region changed";
    return;
  }
  expectChunks(input.bytes, result ? regionFromText(textOf(dir / "result.txt")) : ByteVec(), out);
  expectWellLaidOut(input.bytes, out.after);
  // A second run finds nothing left to repair (but in a chunk kept as stored).
  if (out.output.find("kept exactly as it was stored") != std::string::npos) return;
  const Outcome again = run("pagemend REGION", Input{true, out.after, "", {}}, "PAGEMEND_THREADS=2");
  EXPECT_EQ(again.output.find(" repaired\n"), std::string::npos);
  EXPECT_TRUE(again.after == out.after);
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (auto& entry : fs::directory_iterator(fs::path(PAGEMEND_SOURCE_DIR) / "tests" / "cases")) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string testName(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Case, testing::ValuesIn(caseNames()), testName);

}  // namespace
