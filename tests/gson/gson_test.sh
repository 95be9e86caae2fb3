#!/usr/bin/env bash
# The page reader against the game's own (Gson, as Debian packages it): the
# texts of the JSON table and texts made at random, each read by both; any
# text they read differently fails the test, shown with both verdicts.
# Usage: gson_test.sh PROBE TABLE WORKDIR [COUNT] [SEED]
set -euo pipefail
probe=$1 table=$2 work=$3 count=${4:-100000} seed=${5:-1}
gson=/usr/share/java/gson.jar
if ! command -v javac > /dev/null || [ ! -f "$gson" ]; then
  echo "the comparison needs javac and $gson (packages default-jdk-headless, libgoogle-gson-java)"
  [ "${CI:-}" = true ] && exit 1  # CI proves the reader: it never skips
  echo "SKIPPED"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
javac -d "$work" -cp "$gson" "$here/GsonVerdict.java"
"$probe" texts "$table" "$count" "$seed" > "$work/texts"
java -cp "$gson:$work" GsonVerdict < "$work/texts" > "$work/gson"
"$probe" read < "$work/texts" > "$work/ours"
total=$(wc -l < "$work/texts")
read_by_gson=$(grep -vc '^!$' "$work/gson" || true)
# A value nested too deep to keep is compared on whether it is read at all.
paste "$work/texts" "$work/gson" "$work/ours" |
  awk -F '\t' '$2 != $3 && !($3 == "deep" && $2 != "!") { print "text " $1 "\n  gson " $2 "\n  ours " $3 }' > "$work/differ"
if [ -s "$work/differ" ]; then
  head -n 60 "$work/differ"
  echo "$(($(wc -l < "$work/differ") / 3)) of $total texts read differently"
  exit 1
fi
echo "$total texts ($read_by_gson read as JSON by Gson, $(grep -c '^deep$' "$work/ours" || true) too deep to compare values): every one read the same"
