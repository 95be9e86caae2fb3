#include "region/driver.h"

int main(int argc, char** argv) { return region::runPagemend(argc, argv, region::TreeRelease::withProcess); }
