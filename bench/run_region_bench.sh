#!/usr/bin/env bash
# Whole-process measurements of pagemend beside zlib-only floors, on the real
# region files, a generated full region (1024 chunks) and a region of 16
# chunks that each inflate to 64 MiB:
#   scan   a run that repairs nothing  vs  zlib inflating every chunk         (target: at most 0.5x)
#   fix    a run that repairs one page vs  zlib inflating and deflating every
#          chunk and writing the records                                     (target: at most 0.35x)
#   memory the larger peak of the two runs vs the file's size + twice its
#          largest inflated chunk + 16 MiB                                   (target: at most 1.0x)
#   everyw a run with --everywhere that repairs nothing vs the same scan     (target: at most 1.05x)
#   least  what no scan can beat: the records read and inflated with libdeflate on two
#          threads and nothing else (inflate_bound), vs zlib inflating every chunk
# A row "NAME-lz4" is an LZ4 copy of region NAME (every record of type 4, as
# servers that choose LZ4 store them): its floors and least are NAME's, the
# same chunks as zlib stores them.
# Usage: bench/run_region_bench.sh [BUILD_DIR]   (a Release build with -DPAGEMEND_BENCH=ON)
# RUNS (default 11) rounds per region, interleaved; median times.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
runs=${RUNS:-11}
real=${PAGEMEND_REAL_REGIONS:-$here/../../shared/regions}
tool=$build/bench/region_tool
floor=$build/bench/zlib_floor
timer=$build/bench/process_bench
least=$build/bench/inflate_bound
pagemend=$build/src/pagemend
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=()
if [ -d "$real" ]; then
  for name in anvil113.r.0.0 anvil115.r.0.0 anvil116.r.0.0 1.14.4.r.0.-1 1.17.1.r.0.0 1.18.2.r.0.0; do
    [ -f "$real/$name.mca" ] && cp "$real/$name.mca" "$work/$name.mca" && inputs+=("$name.mca")
  done
  if [ -f "$work/anvil116.r.0.0.mca" ]; then
    "$tool" to-lz4 "$work/anvil116.r.0.0.mca" "$work/anvil116.r.0.0-lz4.mca" > /dev/null
    inputs+=(anvil116.r.0.0-lz4.mca)
  fi
else
  echo "real region files ($real) absent: measuring the generated regions only"
fi
"$tool" generate "$work/generated.mca" > /dev/null
"$tool" generate-large "$work/large-chunks.mca" > /dev/null
inputs+=(generated.mca large-chunks.mca)

printf '%-20s %8s %8s %6s   %8s %8s %6s   %7s %7s %6s   %8s %6s   %8s %6s\n' region "zlib(s)" "scan(s)" ratio "zlib(s)" "fix(s)" ratio \
  "MiB" "bound" ratio "everyw" ratio "least" ratio
for name in "${inputs[@]}"; do
  plain=$work/$name
  source=$plain
  [[ "$name" == *-lz4.mca ]] && source=$work/${name%-lz4.mca}.mca
  rounds=$runs
  [ "$name" = large-chunks.mca ] && rounds=3  # seconds per run, and the same figures each time
  "$tool" add-book "$plain" "$work/book.mca" > /dev/null
  read -r _ largest < <("$floor" inflate "$source")
  out=$("$timer" --runs "$rounds" -- floor "$floor" inflate "$source" -- scan "$pagemend" "$plain" \
    -- everywhere "$pagemend" --everywhere "$plain" -- least "$least" "$source")
  read -r _ f1 _ _ < <(sed -n 1p <<<"$out")
  read -r _ r1 m1 c1 < <(sed -n 2p <<<"$out")
  read -r _ e1 _ c3 < <(sed -n 3p <<<"$out")
  read -r _ b1 _ _ < <(sed -n 4p <<<"$out")
  "$tool" add-book "$source" "$work/floor-book.mca" > /dev/null
  out=$("$timer" --runs "$rounds" -- floor "$floor" rewrite "$work/floor-book.mca" "$work/floor.out" \
    -- fix --copy "$work/book.mca" "$work/fix.mca" "$pagemend" "$work/fix.mca")
  read -r _ f2 _ _ < <(sed -n 1p <<<"$out")
  read -r _ r2 m2 c2 < <(sed -n 2p <<<"$out")
  [ "$c1" = 0 ] && [ "$c2" = 0 ] && [ "$c3" = 0 ] || { echo "pagemend failed on $name"; exit 1; }
  size=$(stat -c %s "$plain")
  awk -v n="$name" -v f1="$f1" -v r1="$r1" -v f2="$f2" -v r2="$r2" -v m1="$m1" -v m2="$m2" -v s="$size" \
    -v l="$largest" -v e1="$e1" -v b1="$b1" 'BEGIN {
      m = (m1 > m2 ? m1 : m2) / 1024; b = (s + 2 * l) / 1048576 + 16
      printf "%-20s %8.4f %8.4f %5.2fx   %8.4f %8.4f %5.2fx   %7.1f %7.1f %5.2fx   %8.4f %5.2fx   %8.4f %5.2fx\n", n, f1, r1, r1 / f1, f2, r2, r2 / f2, m, b, m / b, e1, e1 / r1, b1, b1 / f1 }'
done
