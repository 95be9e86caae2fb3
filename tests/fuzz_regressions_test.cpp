// Every input a fuzzer ever found a fault with, kept under fuzz/regressions/
// with a name that says what it was, replayed through the same checks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "checks.h"
#include "support/run.h"

namespace {

struct Regression {
  std::string target;
  std::string path;
};

std::vector<Regression> allRegressions() {
  std::vector<Regression> found;
  std::filesystem::path root = std::filesystem::path(PAGEMEND_SOURCE_DIR) / "fuzz" / "regressions";
  for (const char* target : {"tag_reader", "region_run", "page_repair", "inflate_agreement"}) {
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(root / target, ec)) {
      if (entry.is_regular_file()) found.push_back({target, entry.path().string()});
    }
  }
  std::sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.path < b.path; });
  return found;
}

class FuzzRegression : public testing::TestWithParam<Regression> {};

TEST_P(FuzzRegression, StillHolds) {
  const Regression& r = GetParam();
  testing_support::ByteVec bytes = testing_support::readFile(r.path);
  // The run's own messages would only clutter the test log.
  std::fflush(stdout);
  int saved = dup(1);
  int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, 1);
  if (r.target == "tag_reader") fuzz_checks::tagReaderRoundTrip(bytes.data(), bytes.size());
  if (r.target == "page_repair") fuzz_checks::pageRepair(bytes.data(), bytes.size());
  if (r.target == "inflate_agreement") fuzz_checks::inflatersAgree(bytes.data(), bytes.size());
  if (r.target == "region_run") {
    testing_support::ScratchDir dir;
    fuzz_checks::wholeRun(bytes.data(), bytes.size(), dir.path());
  }
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(devnull);
}

std::string nameOf(const testing::TestParamInfo<Regression>& info) {
  std::string name = info.param.target + "_" + std::filesystem::path(info.param.path).filename().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Found, FuzzRegression, testing::ValuesIn(allRegressions()), nameOf);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FuzzRegression);

}  // namespace
