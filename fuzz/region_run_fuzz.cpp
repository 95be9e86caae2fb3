#include <cstdio>
#include <cstdlib>
#include <string>

#include "checks.h"

namespace {
std::string scratch;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where possible: every rewrite flushes to disk, which would
  // otherwise take most of the time.
  char tmpl[] = "/dev/shm/pagemend-fuzz-XXXXXX";
  char fallback[] = "/tmp/pagemend-fuzz-XXXXXX";
  if (mkdtemp(tmpl)) {
    scratch = tmpl;
  } else if (mkdtemp(fallback)) {
    scratch = fallback;
  } else {
    return 1;
  }
  // The run's console output is not what is being checked.
  if (!std::freopen("/dev/null", "w", stdout)) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_checks::wholeRun(data, size, scratch, false);
  fuzz_checks::wholeRun(data, size, scratch, true);
  return 0;
}
