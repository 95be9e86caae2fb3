#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for
# SECONDS (default 60) on the generated seeds, the kept regressions and, for
# the whole run, the real region files when present. Fails if any target
# finds a crash, a leak, a timeout (> 5 s) or a memory blow-up (> 512 MiB);
# the offending input is left in ARTIFACTS (default build/fuzz-artifacts).
# Usage: fuzz/run_fuzz.sh [SECONDS] [MAKE_CORPUS]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
make_corpus=${2:-$root/build/release/fuzz/make_corpus}
build=$root/build/fuzz
artifacts=${ARTIFACTS:-$root/build/fuzz-artifacts}
real=${PAGEMEND_REAL_REGIONS:-$root/../shared/regions}
jobs=$(nproc 2>/dev/null || echo 2)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGEMEND_FUZZ=ON \
  -DPAGEMEND_TESTS=OFF -DPAGEMEND_WERROR=ON > /dev/null
cmake --build "$build" -j "$jobs"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make_corpus" "$work/seeds"
mkdir -p "$artifacts"

run() {
  local target=$1 max_len=$2
  shift 2
  mkdir -p "$work/corpus/$target"
  local inputs=("$work/corpus/$target" "$work/seeds/$target")
  [ -d "$root/fuzz/regressions/$target" ] && inputs+=("$root/fuzz/regressions/$target")
  "$build/fuzz/${target}_fuzz" "${inputs[@]}" "$@" \
    -max_total_time="$seconds" -timeout=5 -rss_limit_mb=512 -malloc_limit_mb=512 -max_len="$max_len" \
    -print_final_stats=1 -artifact_prefix="$artifacts/$target-" > "$work/$target.log" 2>&1
}

extra=()
[ -d "$real" ] && extra=("$real")
status=0
# Side by side: each gets its full time even where there are fewer cores.
run tag_reader 65536 & a=$!
run page_repair 140000 & b=$!
run region_run 65536 "${extra[@]}" & c=$!
run inflate_agreement 65536 & d=$!
for pid in $a $b $c $d; do wait "$pid" || status=1; done

for target in tag_reader page_repair region_run inflate_agreement; do
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/$target.log" | grep -o '[0-9]*$' || echo "?")
  echo "$target: $execs executions in ${seconds} s"
  if grep -qE 'ERROR: |SUMMARY: |fuzz check failed' "$work/$target.log"; then
    grep -E -A25 'ERROR: |fuzz check failed' "$work/$target.log" | head -60
    status=1
  fi
done
[ $status -eq 0 ] || echo "a fuzz target failed; inputs are in $artifacts"
exit $status
