#!/usr/bin/env bash
# Runs the README's commands "On your own world" exactly as they are written
# there, on a world made of the bundled example, with ~ a scratch folder:
# after the quick start's first command (scripts/try-example.sh), on a fresh
# clone, they must work. The test run (scripts/test-all.sh) calls this.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/world/region"
cp examples/broken-books.mca "$scratch/world/region/r.0.0.mca"
# The first block of commands after the heading.
commands=$(awk '/^### On your own world/ { section = 1 } section && /^```sh$/ { inside = 1; next }
                inside && /^```$/ { exit } inside { print }' README.md)
[ -n "$commands" ] || { echo "README.md: no commands under 'On your own world'"; exit 1; }
while IFS= read -r command; do
  echo "\$ $command"
  HOME=$scratch bash -c "$command"
done <<< "$commands"
