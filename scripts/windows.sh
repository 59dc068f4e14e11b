#!/usr/bin/env bash
# Cross-builds filmo.dll (with its import library libfilmo.dll.a and filmo.def) for 64-bit
# Windows with Debian's mingw-w64, then runs the test suite under Wine. Installs what it needs
# (run as root). Everything it makes stays under build/:
#   build/windows-deps  yyjson 0.10 (from Debian's source package) and GoogleTest (from
#                       /usr/src/googletest), built for Windows and installed into prefix/
#   build/windows       the library and the tests; wineprefix/ is Wine's home for the run
# Usage: scripts/windows.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

FILMO_WITH_WINDOWS=1 scripts/install-deps.sh

toolchain=$root/cmake/mingw-w64-x86_64.cmake
deps=$root/build/windows-deps
prefix=$deps/prefix
build=$root/build/windows

# yyjson 0.10 from Debian's own source package (the trixie deb-src line install-deps wrote). The
# upstream tarball is all that is needed: a failure to fetch the packaging files is not one.
if [ ! -f "$prefix/include/yyjson.h" ]; then
  mkdir -p "$deps/src"
  (cd "$deps/src" && { apt-get source --download-only -qq yyjson/trixie >/dev/null 2>&1 || true; })
  tarball=$(ls "$deps"/src/yyjson_0.10.*.orig.tar.* 2>/dev/null | head -n 1)
  if [ -z "$tarball" ]; then
    echo "windows: apt-get source yyjson/trixie fetched no upstream tarball" >&2
    exit 1
  fi
  rm -rf "$deps/yyjson"
  mkdir -p "$deps/yyjson"
  tar -xf "$tarball" -C "$deps/yyjson" --strip-components=1
  cmake -S "$deps/yyjson" -B "$deps/yyjson-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$deps/yyjson-build" -j "$jobs" >/dev/null
  cmake --install "$deps/yyjson-build" >/dev/null
fi

# GoogleTest from the sources libgtest-dev ships.
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$deps/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$deps/gtest-build" -j "$jobs" >/dev/null
  cmake --install "$deps/gtest-build" >/dev/null
fi

# The library and its tests; the command-line host is not part of the Windows build.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DFILMO_WINDOWS_PREFIX="$prefix" -DFILMO_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$jobs"

# Wine, quiet, with its own prefix in the build folder; no Mono or Gecko downloads. The
# wineserver of this prefix is stopped however the run ends.
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 "$@"
