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

# yyjson and GoogleTest built for Windows, once (sets toolchain and prefix).
source scripts/windows-deps.sh
build=$root/build/windows

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
