#!/usr/bin/env bash
# Builds pagemend and runs it twice on a copy of the bundled example region
# (examples/broken-books.mca): the first run repairs, the second finds nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages cmake make g++ zlib1g-dev libdeflate-dev liblz4-dev libxxhash-dev

cmake -S . -B build/example -DCMAKE_BUILD_TYPE=Release -DPAGEMEND_TESTS=OFF > /dev/null
cmake --build build/example -j "$(nproc 2>/dev/null || echo 2)" --target pagemend > /dev/null
scratch=$(mktemp -d)
cp examples/broken-books.mca "$scratch/r.0.0.mca"
echo
echo "\$ pagemend $scratch/r.0.0.mca        # first run: repairs the copy"
build/example/src/pagemend "$scratch/r.0.0.mca"
echo
echo "\$ pagemend $scratch/r.0.0.mca        # second run: nothing left to repair"
build/example/src/pagemend "$scratch/r.0.0.mca"
echo
echo "The repaired copy is $scratch/r.0.0.mca; see README.md for what each line means."
