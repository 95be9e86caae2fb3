#!/usr/bin/env bash
# Builds and runs every test twice: a normal build with warnings as errors,
# then an AddressSanitizer + UndefinedBehaviorSanitizer build; cross-builds
# the Windows programs and runs their unit tests, every case and the kill
# test with them under Wine (scripts/wine-tests.sh); the cases once
# more under ThreadSanitizer; then builds the
# fuzz targets with clang and runs each for a minute (FUZZ_SECONDS); then
# builds the Debian package and runs the packaged pagemend on the example
# (installed with dpkg under CI, unpacked to a scratch folder otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages cmake make g++ zlib1g-dev libdeflate-dev liblz4-dev libxxhash-dev libgtest-dev libgmock-dev \
  libbenchmark-dev clang libclang-rt-14-dev util-linux dpkg-dev attr acl python3 \
  default-jdk-headless libgoogle-gson-java

jobs=$(nproc 2>/dev/null || echo 2)
# Each part says how long it took, so that a slow run shows where.
started=$SECONDS
part() {
  [ -n "${part:-}" ] && echo "== $part: $((SECONDS - started)) s =="
  part=$1
  started=$SECONDS
  [ -n "$part" ] && echo "== $part =="
  return 0
}

part "normal build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPAGEMEND_WERROR=ON -DPAGEMEND_BENCH=ON
cmake --build build/release -j "$jobs"
part "normal tests"
ctest --test-dir build/release --output-on-failure -j "$jobs"

part "Windows build and tests under Wine"
bash scripts/wine-tests.sh build/release

part "sanitizer build (ASan + UBSan)"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGEMEND_WERROR=ON -DPAGEMEND_SANITIZE=ON
cmake --build build/sanitize -j "$jobs"
part "sanitizer tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

part "ThreadSanitizer build"
# The programs' threads (a region's slots, a world's files) under the race
# detector: the cases and the library. Cases of hundreds of mebibytes on one
# thread are left to the builds above, where they take seconds, not minutes.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGEMEND_WERROR=ON -DPAGEMEND_TSAN=ON
cmake --build build/tsan -j "$jobs" --target cases_tests library_tests
part "ThreadSanitizer tests"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -j "$jobs" -R '^(Cases|Library)' \
  -E 'zlib_bomb|records_of_any_size|out_of_memory'

part "fuzzing (clang, libFuzzer)"
bash fuzz/run_fuzz.sh "${FUZZ_SECONDS:-60}" build/release/fuzz/make_corpus

part "Debian package"
(cd build/release && cpack -G DEB > /dev/null)
deb=$(ls build/release/pagemend_*_*.deb | head -n 1)
[ "$(dpkg-deb -c "$deb" | grep -cE 'man1/pagemend(-world|-dump)?\.1')" -eq 3 ] || { echo "a manual page is missing from $deb"; exit 1; }
scratch=$(mktemp -d)
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ]; then
  dpkg -i "$deb" > /dev/null
  installed=/usr/bin
else
  dpkg-deb -x "$deb" "$scratch/root"
  installed=$scratch/root/usr/bin
fi
mkdir -p "$scratch/world/region"
region=$scratch/world/region/r.0.0.mca
cp examples/broken-books.mca "$region"
"$installed/pagemend" "$region" | tee "$scratch/first"
grep -q "page 0 repaired" "$scratch/first"
"$installed/pagemend-world" --check "$scratch/world" | grep -q "^Pages that would be repaired: 0$"
"$installed/pagemend" --check "$scratch/world" | grep -q "^Files examined: 1$"
"$installed/pagemend-dump" "$region" 0 0 | grep -q '"title":"Farm Notes"'
# The packaged library and header, as another program builds against them.
prefix=$(dirname "$installed")
cc examples/repair_chunk.c -I"$prefix/include" -L"$prefix/lib" -lpagemend -o "$scratch/repair_chunk"
[ -f "$prefix/lib/pkgconfig/pagemend.pc" ] || { echo "pagemend.pc is missing from $deb"; exit 1; }
LD_LIBRARY_PATH="$prefix/lib" "$scratch/repair_chunk" /dev/null "$scratch/out" 2> /dev/null && exit 1
echo "$(basename "$deb"): the packaged programs repaired and examined the example; the library builds and runs"
rm -rf "$scratch"

part "the README's commands, as written"
bash scripts/try-example.sh > /dev/null
bash scripts/readme-commands.sh
part ""
