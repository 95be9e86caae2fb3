#!/usr/bin/env bash
# Each room of src/ includes only the rooms it may use (see src/CMakeLists.txt
# and ARCHITECTURE.md), and only the libraries that are its own concern: a
# lower room that reaches into a higher one, or a cycle, fails this test.
set -u
src=${1:?usage: layering_test.sh SRC_DIR}
declare -A may=(
  [nbt]="nbt"
  [anvil]="anvil nbt fsio"
  [books]="books nbt"
  [repair]="repair anvil books nbt fsio"
  [fsio]="fsio"
  [app]="app repair anvil books fsio nbt"
)
declare -A libraries=(
  [anvil]="zlib.h libdeflate.h lz4.h xxhash.h"
)
status=0
for room in "${!may[@]}"; do
  while IFS=: read -r file line include; do
    used=${include#*\"}
    used=${used%%/*}
    case " ${may[$room]} " in *" $used "*) ;; *)
      echo "$file:$line: the $room room may not use $used: $include"
      status=1 ;;
    esac
  done < <(grep -n -H -E '^#include "' "$src/$room"/*.h "$src/$room"/*.cpp)
  for library in zlib.h libdeflate.h lz4.h xxhash.h; do
    case " ${libraries[$room]:-} " in *" $library "*) continue ;; esac
    grep -n -H "#include <$library>" "$src/$room"/*.h "$src/$room"/*.cpp && {
      echo "the $room room may not use $library"
      status=1
    }
  done
done
# The system's own headers are fsio's alone: the rest of the code does not
# know which system it runs on.
if grep -n -H -E '^#include <(unistd|fcntl|dirent|sched|signal|pthread|windows|io|aclapi|shellapi)\.h>|^#include <sys/' \
  "$src"/*/*.h "$src"/*/*.cpp | grep -v "^$src/fsio/" | grep -v '^[^:]*:[0-9]*:#include <pthread\.h>$' ; then
  echo "only fsio may include the system's headers"
  status=1
fi
for dir in "$src"/*/; do
  room=$(basename "$dir")
  [ -n "${may[$room]:-}" ] || { echo "$room: a room without its rules here"; status=1; }
done
exit $status
