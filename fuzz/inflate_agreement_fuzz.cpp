#include "checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_checks::inflatersAgree(data, size);
  return 0;
}
