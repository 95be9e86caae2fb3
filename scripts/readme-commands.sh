#!/usr/bin/env bash
# Runs the README's commands "On your own world" exactly as they are written
# there, on a world of Minecraft 1.20 made of the bundled example (its
# region and entity files), with ~ a scratch folder: after the quick start's
# first command (scripts/try-example.sh), on a fresh clone, they must work,
# and find the books with no option. The test run (scripts/test-all.sh)
# calls this.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/world/region" "$scratch/world/entities"
cp examples/broken-books-1.20.mca "$scratch/world/region/r.0.0.mca"
cp examples/broken-books-1.20-entities.mca "$scratch/world/entities/r.0.0.mca"
# The first block of commands after the heading.
commands=$(awk '/^### On your own world/ { section = 1 } section && /^```sh$/ { inside = 1; next }
                inside && /^```$/ { exit } inside { print }' README.md)
[ -n "$commands" ] || { echo "README.md: no commands under 'On your own world'"; exit 1; }
said=$scratch/said
while IFS= read -r command; do
  echo "\$ $command"
  # A check that finds pages to repair says so with its exit code, 3.
  HOME=$scratch bash -c "$command" | tee -a "$said" || [ "${PIPESTATUS[0]}" -eq 3 ]
done <<< "$commands"
for found in "Book 'Farm Notes' in minecraft:chest at 3,64,5 page 0 repaired" "Book 'Welcome' in minecraft:written_book at 20,70,2 page 0 repaired" "Files repaired: 2"; do
  grep -qF "$found" "$said" || { echo "the README's commands did not find the books of a 1.20 world: no '$found'"; exit 1; }
done
