// Every input kept under fuzz/regressions/<target>/ (inputs a fuzzer once
// failed on, and hand-made hostile ones), replayed through the target's
// checks; <input>.expected holds the verdict the input must come to
// (PAGEMEND_RECORD_CASES=1 writes it, for a new input: read it before committing it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "checks.h"
#include "support/run.h"

namespace fs = std::filesystem;

namespace {

class Regression : public testing::TestWithParam<std::string> {};

TEST_P(Regression, HoldsAndComesToItsVerdict) {
  const fs::path input = fs::path(PAGEMEND_SOURCE_DIR) / "fuzz" / "regressions" / GetParam();
  const testing_support::ByteVec bytes = testing_support::readFile(input.string());
  const std::string target = input.parent_path().filename().string();
  std::string verdict;
  if (target == "tag_reader") verdict = fuzz_checks::tagReaderRoundTrip(bytes.data(), bytes.size());
  if (target == "page_repair") verdict = fuzz_checks::pageRepair(bytes.data(), bytes.size());
  if (target == "inflate_agreement") verdict = fuzz_checks::inflatersAgree(bytes.data(), bytes.size());
  if (std::getenv("PAGEMEND_RECORD_CASES")) {
    const std::string line = verdict + "\n";
    testing_support::writeFile(input.string() + ".expected", testing_support::ByteVec(line.begin(), line.end()));
    return;
  }
  const testing_support::ByteVec expected = testing_support::readFile(input.string() + ".expected");
  EXPECT_EQ(verdict + "\n", std::string(expected.begin(), expected.end()));
}

std::vector<std::string> inputs() {
  std::vector<std::string> found;
  for (auto& entry : fs::recursive_directory_iterator(fs::path(PAGEMEND_SOURCE_DIR) / "fuzz" / "regressions")) {
    if (entry.is_regular_file() && entry.path().extension() != ".expected" && entry.path().extension() != ".md") {
      found.push_back(entry.path().parent_path().filename().string() + "/" + entry.path().filename().string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string nameOf(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Kept, Regression, testing::ValuesIn(inputs()), nameOf);

}  // namespace
