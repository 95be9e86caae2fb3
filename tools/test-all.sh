#!/usr/bin/env bash
# Builds and runs every test twice: a normal build with warnings as errors,
# then an AddressSanitizer + UndefinedBehaviorSanitizer build; then builds the
# fuzz targets with clang and runs each for a minute (FUZZ_SECONDS).
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/ensure-packages.sh
ensure_packages cmake make g++ zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev \
  clang libclang-rt-14-dev valgrind util-linux

jobs=$(nproc 2>/dev/null || echo 2)

echo "== normal build =="
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPAGEMEND_WERROR=ON -DPAGEMEND_BENCH=ON
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== sanitizer build (ASan + UBSan) =="
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGEMEND_WERROR=ON -DPAGEMEND_SANITIZE=ON
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

echo "== fuzzing (clang, libFuzzer) =="
bash fuzz/run_fuzz.sh "${FUZZ_SECONDS:-60}" build/release/fuzz/make_corpus
