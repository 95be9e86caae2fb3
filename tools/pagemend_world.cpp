// pagemend-world [--check] [--everywhere] [-j N] WORLD...
// pagemend over world folders, with the exit codes its scripts have long
// expected: kept for those scripts (pagemend WORLD does the same).

#include "app/run.h"
#include "fsio/system.h"

int main(int argc, char** argv) {
  fsio::startProgram(argc, argv, true);  // a reader that went away ends the run quietly, never a rewrite
  return app::runPagemendWorld(argc, argv);
}
