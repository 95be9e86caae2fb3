#include <cstdlib>
#include <cstring>

#include "app/run.h"
#include "fsio/system.h"

int main(int argc, char** argv) {
  // A reader that went away ends the messages, never the rewrite: writes to
  // it fail and the run goes on.
  fsio::startProgram(argc, argv, true);
  app::RunOptions options;
  // For tests that compare how a run is carried out; users have no reason to set them.
  const char* inflater = std::getenv("PAGEMEND_INFLATER");
  options.zlibOnly = inflater && !std::strcmp(inflater, "zlib");
  if (const char* threads = std::getenv("PAGEMEND_THREADS")) options.threads = std::atoi(threads);
  if (const char* budget = std::getenv("PAGEMEND_RECORD_BUDGET"); budget && *budget >= '0' && *budget <= '9') {
    options.recordBudget = std::strtoull(budget, nullptr, 10);
  }
  return app::runPagemend(argc, argv, options);
}
