#!/usr/bin/env bash
# Whole-process measurements of pagemend beside zlib-only floors, on the
# largest real region file and on a generated full region (1024 chunks):
#   no-repair run  vs  inflating every chunk             (target: at most 1.5x)
#   repair run     vs  inflate + deflate + write records (target: at most 1.15x)
#   peak memory    vs  the region's decompressed size    (target: under 2.5x)
# Usage: bench/run_region_bench.sh [BUILD_DIR]   (a Release build with -DPAGEMEND_BENCH=ON)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
runs=${RUNS:-11}
real=${PAGEMEND_REAL_REGIONS:-$here/../../shared/regions}
tool=$build/bench/region_tool
floor=$build/bench/zlib_floor
timer=$build/bench/process_bench
pagemend=$build/src/pagemend
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" generate "$work/generated.mca" > /dev/null
inputs=("generated:$work/generated.mca")
if [ -d "$real" ]; then
  largest=$(ls -S "$real"/*.mca | head -n 1)
  cp "$largest" "$work/real.mca"
  inputs+=("$(basename "$largest"):$work/real.mca")
else
  echo "real region files ($real) absent: measuring the generated region only"
fi

# "dropped" reads every tree as a run does but drops each once read: how much
# of a run's cost is reading the trees and how much is holding all of them.
printf '%-22s %9s %9s %7s %7s %9s %9s %7s %8s %7s\n' input "floor(s)" "run(s)" ratio dropped "floor(s)" "fix(s)" ratio "MB nbt" mem
for entry in "${inputs[@]}"; do
  name=${entry%%:*}
  plain=${entry#*:}
  "$tool" add-book "$plain" "$work/book.mca" > /dev/null
  bytes=$("$floor" inflate "$plain")
  out=$("$timer" --runs "$runs" -- floor "$floor" inflate "$plain" -- run "$pagemend" "$plain" \
    -- dropped "$tool" read-and-drop "$plain")
  read -r _ f1 _ _ < <(sed -n 1p <<<"$out")
  read -r _ r1 m1 _ < <(sed -n 2p <<<"$out")
  read -r _ d1 _ _ < <(sed -n 3p <<<"$out")
  out=$("$timer" --runs "$runs" \
    -- floor sh -c "cp '$work/book.mca' '$work/a.mca' && '$floor' rewrite '$work/a.mca' '$work/a.out'" \
    -- fix sh -c "cp '$work/book.mca' '$work/b.mca' && '$pagemend' '$work/b.mca'")
  read -r _ f2 _ _ < <(sed -n 1p <<<"$out")
  read -r _ r2 m2 code < <(sed -n 2p <<<"$out")
  [ "$code" = 0 ] || { echo "pagemend failed on $name with a book"; exit 1; }
  mem=$(( m1 > m2 ? m1 : m2 ))
  awk -v n="$name" -v f1="$f1" -v r1="$r1" -v d1="$d1" -v f2="$f2" -v r2="$r2" -v b="$bytes" -v m="$mem" 'BEGIN {
    printf "%-22s %9.4f %9.4f %6.2fx %6.2fx %9.4f %9.4f %6.2fx %8.1f %6.2fx\n", n, f1, r1, r1 / f1, d1 / f1, f2, r2, r2 / f2, b / 1e6, m * 1024 / b }'
done
