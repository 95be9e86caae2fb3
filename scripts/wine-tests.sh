#!/usr/bin/env bash
# The Windows programs' tests under Wine: cross-builds them and their unit
# tests (scripts/build-windows.sh --tests), runs the unit tests, then every
# case of tests/cases with the Windows programs in place of the Linux ones
# (through the Linux case runner of BUILD, default build/release), but for
# those tests/wine/exceptions.txt names, each with its reason. One
# wineserver is kept running for the whole run, in a prefix made afresh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
source scripts/ensure-packages.sh
ensure_packages wine64
bash scripts/build-windows.sh --tests > /dev/null

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$PWD/build/windows/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
started=$SECONDS
"$wine" wineboot --init > /dev/null 2>&1
"$wineserver" -w  # the server wineboot started, gone: the one started next stays
"$wineserver" -p
trap '"$wineserver" -k 2> /dev/null || true' EXIT
echo "Wine prefix made in $((SECONDS - started)) s"

status=0
for test in nbt books writer fsio fuzz_regression; do
  "$wine" "build/windows/build/tests/${test}_tests.exe" --gtest_brief=1 || status=1
done

# The case runner runs pagemend, pagemend-dump and pagemend-world by name:
# these start the Windows programs under Wine.
programs=$PWD/build/windows/run
mkdir -p "$programs"
for program in pagemend pagemend-world pagemend-dump; do
  printf '#!/bin/sh\nexec %s %s "$@"\n' "$wine" "$PWD/build/windows/$program.exe" > "$programs/$program"
  chmod +x "$programs/$program"
done
PAGEMEND_PROGRAMS=$programs PAGEMEND_EXCEPTIONS=$PWD/tests/wine/exceptions.txt \
  "$build/tests/cases_tests" --gtest_brief=1 || status=1
# The help's examples name Windows paths there, and Linux paths never.
for program in pagemend pagemend-world pagemend-dump; do
  help=$("$programs/$program" --help)
  if ! grep -qF '"%APPDATA%\.minecraft\saves\My World' <<< "$help" || grep -qF '~/' <<< "$help"; then
    echo "$program --help names no Windows path in its examples"
    status=1
  fi
done

# Killed at many moments, the region and the chunk's and player's files stay whole.
PAGEMEND_PROGRAMS=$programs "$build/tests/safety_tests" --gtest_brief=1 || status=1

# Ctrl-C (Wine makes SIGINT one) in a world run, once it is repairing: the
# line that says so, no temporary left, and the exit code of a Ctrl-C
# (0xC000013A; 58 to a shell). (Not while the run lists the world: Wine
# itself then hangs now and then, with its own handling of Ctrl-C too.)
scratch=$(mktemp -d)
mkdir -p "$scratch/w/region"
for x in $(seq 0 599); do cp examples/broken-books.mca "$scratch/w/region/r.$x.0.mca"; done
"$programs/pagemend" "$scratch/w" > "$scratch/out" 2>&1 &
run=$!
for _ in $(seq 400); do grep -q '^== ' "$scratch/out" && break; sleep 0.05; done
kill -INT $run
( sleep 30; kill -9 $run 2> /dev/null && echo "Ctrl-C under Wine: no end 30 s after it" ) &
watchdog=$!
code=0
wait $run || code=$?
kill $watchdog 2> /dev/null || true
if [ "$code" -eq 58 ] && grep -q "^Interrupted: [0-9]* of 600 files done; the rest left as they were$" "$scratch/out" &&
  ! ls -A "$scratch/w/region" | grep -q pagemend; then
  echo "Ctrl-C: told, nothing left beside the files, exit 58"
else
  echo "Ctrl-C under Wine: exit $code, $(ls -A "$scratch/w/region" | grep -c pagemend) temporaries left"; tail -n 2 "$scratch/out"
  status=1
fi
rm -rf "$scratch"
exit $status
