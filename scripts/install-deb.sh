#!/usr/bin/env bash
# Builds the Debian package (without building or running the tests) and
# installs it with apt-get, which brings its dependencies: then pagemend,
# pagemend-world and pagemend-dump are on the path, with their manual pages,
# and libpagemend with its header. As root; run as another user, it builds
# the package and says how to install it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages cmake make g++ zlib1g-dev libdeflate-dev liblz4-dev libxxhash-dev dpkg-dev

cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DPAGEMEND_TESTS=OFF > /dev/null
cmake --build build/package -j "$(nproc 2>/dev/null || echo 2)" > /dev/null
rm -f build/package/pagemend_*.deb
(cd build/package && cpack -G DEB > /dev/null)
deb=$(ls "$PWD"/build/package/pagemend_*.deb)
if [ "$(id -u)" -ne 0 ]; then
  echo "Built $deb; install it as root: apt-get install $deb"
  exit 0
fi
apt-get install -y "$deb"
echo "Installed $(basename "$deb"): try 'pagemend --help' and 'man pagemend'."
