// pagemend-world [--check] [--everywhere] [-j N] WORLD...
// pagemend over world folders, with the exit codes its scripts have long
// expected: kept for those scripts (pagemend WORLD does the same).
#include <csignal>

#include "app/run.h"
#include "fsio/files.h"

int main(int argc, char** argv) {
  fsio::occupyStandardDescriptors();
  std::signal(SIGPIPE, SIG_IGN);  // a reader that went away ends the run quietly, never a rewrite
  return app::runPagemendWorld(argc, argv);
}
