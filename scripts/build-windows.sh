#!/usr/bin/env bash
# Cross-builds pagemend.exe, pagemend-world.exe and pagemend-dump.exe for
# 64-bit Windows into build/windows/, statically linked: they need no DLL but
# Windows' own. zlib is Debian's MinGW package; libdeflate, LZ4 and xxHash,
# which Debian packages for Linux alone, are cross-built from Debian's source
# packages (fetched with apt-get source into build/windows/deps, once).
# With --tests, the unit tests too (GoogleTest from Debian's libgtest-dev
# sources). Run as root on Debian, missing packages are installed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages cmake make dpkg-dev g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libgtest-dev

tests=OFF
[ "${1:-}" = --tests ] && tests=ON
out=$PWD/build/windows
deps=$out/deps
prefix=$deps/prefix
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$deps/src"

# The source packages: apt-get source needs deb-src lines, which a Debian
# installation often lacks; root adds them beside the deb ones.
fetch() {
  local package=$1
  ls -d "$deps/src/$package"-*/ > /dev/null 2>&1 && return 0
  if ! (cd "$deps/src" && apt-get source -qq "$package" > /dev/null 2>&1); then
    local sources=/etc/apt/sources.list.d/debian.sources
    if [ "$(id -u)" -eq 0 ] && [ -f "$sources" ] && [ ! -f /etc/apt/sources.list.d/pagemend-deb-src.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' "$sources" > /etc/apt/sources.list.d/pagemend-deb-src.sources
      apt-get update -qq
    fi
    (cd "$deps/src" && apt-get source -qq "$package" > /dev/null) || {
      echo "apt-get source $package failed: add deb-src lines to the apt sources, then run this again" >&2
      exit 1
    }
  fi
}
fetch libdeflate
fetch lz4
fetch xxhash

cross() {  # cross() SOURCE BUILD [CMAKE OPTIONS...]: configure, build and install into the prefix
  local source=$1 build=$2
  shift 2
  cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" "$@" > /dev/null
  cmake --build "$build" -j "$jobs" > /dev/null
  cmake --install "$build" > /dev/null
}
if [ ! -f "$prefix/lib/libdeflate.a" ]; then
  echo "Cross-building libdeflate"
  # (Its Makefile: CMake came with 1.15.)
  source=$(ls -d "$deps"/src/libdeflate-*/ | head -n 1)
  make -C "$source" -j "$jobs" CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar libdeflatestatic.lib > /dev/null
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$source/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  cp "$source/libdeflate.h" "$prefix/include/"
fi
if [ ! -f "$prefix/lib/liblz4.a" ]; then
  echo "Cross-building LZ4"
  cross "$(ls -d "$deps"/src/lz4-*/ | head -n 1)build/cmake" "$deps/build/lz4" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DLZ4_BUILD_CLI=OFF -DLZ4_BUILD_LEGACY_LZ4C=OFF \
    -DCMAKE_C_FLAGS=-DXXH_NAMESPACE=LZ4_  # its own copy of xxHash under names of its own, as Debian builds it
fi
if [ ! -f "$prefix/lib/libxxhash.a" ]; then
  echo "Cross-building xxHash"
  cross "$(ls -d "$deps"/src/xxhash-*/ | head -n 1)cmake_unofficial" "$deps/build/xxhash" \
    -DBUILD_SHARED_LIBS=OFF -DXXHASH_BUILD_XXHSUM=OFF
fi
if [ "$tests" = ON ] && [ ! -f "$prefix/lib/libgtest.a" ]; then
  echo "Cross-building GoogleTest"
  cross /usr/src/googletest "$deps/build/googletest" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF
fi

echo "Cross-building pagemend"
cmake -S . -B "$out/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DPAGEMEND_WINDOWS_DEPS="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DPAGEMEND_WERROR=ON -DPAGEMEND_TESTS="$tests" > /dev/null
cmake --build "$out/build" -j "$jobs" --target pagemend pagemend-world pagemend-dump \
  $([ "$tests" = ON ] && echo nbt_tests books_tests writer_tests fsio_tests fuzz_regression_tests) > "$out/build.log" ||
  { cat "$out/build.log"; exit 1; }
for program in pagemend pagemend-world pagemend-dump; do
  cp "$out/build/src/$program.exe" "$out/$program.exe" 2> /dev/null || cp "$out/build/tools/$program.exe" "$out/$program.exe"
done
# No DLL but the system's: a program that needs one beside it would not start
# on a machine without it.
for program in "$out"/*.exe; do
  foreign=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^\tDLL Name: //p' |
    grep -viE '^(kernel32|msvcrt|advapi32|user32|ntdll|ws2_32|shell32|ole32|bcrypt|api-ms-win-.*)\.dll$' || true)
  [ -z "$foreign" ] || { echo "$program needs $foreign" >&2; exit 1; }
done
echo "Built: $(cd "$out" && ls *.exe | tr '\n' ' ')(in build/windows)"
