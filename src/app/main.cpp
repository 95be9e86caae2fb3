#include <csignal>
#include <cstdlib>
#include <cstring>

#include "app/run.h"
#include "fsio/files.h"

int main(int argc, char** argv) {
  fsio::occupyStandardDescriptors();
  // A reader that went away ends the messages, never the rewrite: writes to
  // it fail and the run goes on.
  std::signal(SIGPIPE, SIG_IGN);
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
