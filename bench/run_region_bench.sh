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
#   all    (below the table) a run that repairs a page in every chunk vs zlib
#          inflating and deflating every chunk and writing the records  (target: at most 0.4x)
#   upgr   (beside it) `--check --upgrade` of that region vs `--check`  (target: at most 1.05x)
#   least  what no scan can beat: the records read and inflated with libdeflate on two
#          threads and nothing else (inflate_bound), vs zlib inflating every chunk
# A row "NAME-lz4" is an LZ4 copy of region NAME (every record of type 4, as
# servers that choose LZ4 store them): its floors and least are NAME's, the
# same chunks as zlib stores them.
# Usage: bench/run_region_bench.sh [BUILD_DIR]   (a Release build with -DPAGEMEND_BENCH=ON)
# RUNS (default 11) rounds per region, interleaved; median times. The worlds
# (below the table) follow.
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

# A run's code: 0, or for a check that finds pages to repair, 3.
ok() { [ "$1" = 0 ] || [ "$1" = 3 ]; }

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

if [ -z "${WORLDS_ONLY:-}" ]; then  # WORLDS_ONLY=1: the worlds alone
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
  ok "$c1" && ok "$c2" && ok "$c3" || { echo "pagemend failed on $name"; exit 1; }
  size=$(stat -c %s "$plain")
  awk -v n="$name" -v f1="$f1" -v r1="$r1" -v f2="$f2" -v r2="$r2" -v m1="$m1" -v m2="$m2" -v s="$size" \
    -v l="$largest" -v e1="$e1" -v b1="$b1" 'BEGIN {
      m = (m1 > m2 ? m1 : m2) / 1024; b = (s + 2 * l) / 1048576 + 16
      printf "%-20s %8.4f %8.4f %5.2fx   %8.4f %8.4f %5.2fx   %7.1f %7.1f %5.2fx   %8.4f %5.2fx   %8.4f %5.2fx\n", n, f1, r1, r1 / f1, f2, r2, r2 / f2, m, b, m / b, e1, e1 / r1, b1, b1 / f1 }'
done

echo
printf '%-20s %8s %8s %6s   %8s %8s %6s   (a plain page in every chunk)\n' region "zlib(s)" "all(s)" ratio \
  "check" "upgr" ratio
for name in anvil116.r.0.0.mca 1.14.4.r.0.-1.mca generated.mca; do
  [ -f "$work/$name" ] || continue
  "$tool" add-books "$work/$name" "$work/all.mca" > /dev/null
  out=$("$timer" --runs "$runs" -- floor "$floor" rewrite "$work/all.mca" "$work/floor.out" \
    -- all --copy "$work/all.mca" "$work/all-fix.mca" "$pagemend" "$work/all-fix.mca" \
    -- check "$pagemend" --check "$work/all.mca" -- upgrade "$pagemend" --check --upgrade "$work/all.mca")
  read -r _ f3 _ _ < <(sed -n 1p <<<"$out")
  read -r _ r3 _ c4 < <(sed -n 2p <<<"$out")
  read -r _ k3 _ c5 < <(sed -n 3p <<<"$out")
  read -r _ u3 _ c6 < <(sed -n 4p <<<"$out")
  ok "$c4" && ok "$c5" && ok "$c6" || { echo "pagemend failed on $name with a page in every chunk"; exit 1; }
  awk -v n="$name" -v f="$f3" -v r="$r3" -v k="$k3" -v u="$u3" \
    'BEGIN { printf "%-20s %8.4f %8.4f %5.2fx   %8.4f %8.4f %5.2fx\n", n, f, r, r / f, k, u, u / k }'
done
fi

# Whole worlds, each in one run:
#   small  2,000 regions of four small chunks: `pagemend --check WORLD` vs one
#          call on the same files run one after another (-j 1), as a single
#          call ran them before world runs                (target: at most 1.2x, and 1.5 s)
#   first  the seconds until the first progress line on a terminal (target: at most 0.5 s)
#   real   WORLD_FILES regions (default 200): the real ones, copied, and
#          generated full regions: `pagemend --check WORLD` vs the least a scan
#          of those files can take (inflate_bound, every core)  (target: at most 1.3x)
#   memory the real world's peak above `pagemend --version`'s vs 16 MiB + N x
#          its largest inflated chunk, N the processors     (target: at most 1.0x)
"$tool" world "$work/small" 2000 > /dev/null
small=("$work"/small/region/*.mca)
out=$("$timer" --runs "$runs" -- world "$pagemend" --check "$work/small" -- call "$pagemend" --check -j 1 "${small[@]}")
read -r _ w1 _ c1 < <(sed -n 1p <<<"$out")
read -r _ s1 _ c2 < <(sed -n 2p <<<"$out")
ok "$c1" && ok "$c2" || { echo "pagemend failed on the small world"; exit 1; }
firsts=$(for _ in 1 2 3 4 5; do "$build/bench/first_line" "$pagemend" --check "$work/small"; done | sort -n)
first=$(sed -n 3p <<<"$firsts")

mkdir -p "$work/real/region"
files=${WORLD_FILES:-200}
pool=()
[ -d "$real" ] && for f in "$real"/*.mca; do pool+=("$f"); done
"$tool" generate "$work/full.mca" > /dev/null
pool+=("$work/full.mca" "$work/generated.mca")
largest=0
for f in "${pool[@]}"; do
  read -r _ l < <("$floor" inflate "$f")
  [ "$l" -gt "$largest" ] && largest=$l
done
for ((i = 0; i < files; ++i)); do cp "${pool[i % ${#pool[@]}]}" "$work/real/region/r.$((i % 32)).$((i / 32)).mca"; done
realFiles=("$work"/real/region/*.mca)
out=$("$timer" --runs "$runs" -- world "$pagemend" --check "$work/real" -- least "$least" "${realFiles[@]}" \
  -- base "$pagemend" --version)
read -r _ w2 m2 _ < <(sed -n 1p <<<"$out")
read -r _ b2 _ _ < <(sed -n 2p <<<"$out")
read -r _ _ m0 _ < <(sed -n 3p <<<"$out")
# Twenty copies of a real region whose records all end a byte or more short
# of their checksum (as some tools write them): a check of them vs the least
# a scan of those files can take           (target: at most 1.3x)
short=()
if [ -f "$real/short-length.r.0.0.mca" ]; then
  mkdir -p "$work/short/region"
  for ((i = 0; i < 20; ++i)); do cp "$real/short-length.r.0.0.mca" "$work/short/region/r.$i.0.mca"; done
  short=("$work"/short/region/*.mca)
  out=$("$timer" --runs "$runs" -- world "$pagemend" --check "$work/short" -- least "$least" "${short[@]}")
  read -r _ w3 _ _ < <(sed -n 1p <<<"$out")
  read -r _ b3 _ _ < <(sed -n 2p <<<"$out")
fi
processors=$(nproc)
echo
printf '%-34s %9s %9s %7s\n' "world" "run(s)" "vs(s)" ratio
awk -v w="$w1" -v s="$s1" 'BEGIN { printf "%-34s %9.4f %9.4f %6.2fx   (vs one call, -j 1)\n", "2000 small regions", w, s, w / s }'
awk -v f="$first" 'BEGIN { printf "%-34s %9.4f\n", "  first progress line", f }'
awk -v n="${#realFiles[@]}" -v w="$w2" -v b="$b2" 'BEGIN { printf "%-34s %9.4f %9.4f %6.2fx   (vs inflate_bound)\n", n " real and generated regions", w, b, w / b }'
[ ${#short[@]} -gt 0 ] && awk -v w="$w3" -v b="$b3" 'BEGIN { printf "%-34s %9.4f %9.4f %6.2fx   (vs inflate_bound)\n", "20 regions short of checksums", w, b, w / b }'
awk -v m="$m2" -v m0="$m0" -v l="$largest" -v p="$processors" 'BEGIN {
  used = (m - m0) / 1024; bound = 16 + p * l / 1048576
  printf "%-34s %9.1f %9.1f %6.2fx   (MiB above --version vs 16 MiB + %d x largest chunk)\n", "  memory", used, bound, used / bound, p }'
