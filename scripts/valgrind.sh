#!/usr/bin/env bash
# Runs the whole ctest suite of a release build (no sanitizers) under valgrind memcheck. Every
# test executable, gtest's discovery runs included, is started through valgrind (the
# CROSSCOMPILING_EMULATOR of the build), so an invalid read or write, a use of an uninitialised
# value or a definite leak fails that test. Usage: scripts/valgrind.sh [ctest arguments...]
# FILMO_VALGRIND_BUILD names the build directory (default build/valgrind). See FUZZING.md.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v valgrind >/dev/null; then
    echo "valgrind: not installed (apt-get install valgrind)" >&2
    exit 1
fi
build=${FILMO_VALGRIND_BUILD:-build/valgrind}
memcheck="valgrind;--tool=memcheck;--error-exitcode=1;--leak-check=full"
memcheck+=";--errors-for-leak-kinds=definite,indirect;--show-leak-kinds=definite,indirect"
memcheck+=";--num-callers=40;--quiet"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFILMO_SANITIZE=OFF \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=$memcheck" >/dev/null
cmake --build "$build" -j "$(nproc)"

start=$(date +%s)
status=0
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 1800 "$@" || status=$?
echo "valgrind: ctest under memcheck took $(( $(date +%s) - start ))s"
exit $status
