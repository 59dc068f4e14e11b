#!/usr/bin/env bash
# Builds and runs every test: the GoogleTest suite through ctest in a release configuration,
# the Python package's pytest suite and mypy (pip install ./python, which builds the library
# into the package, into a fresh venv),
# then again with AddressSanitizer + UndefinedBehaviorSanitizer (any report fails the run),
# then the concurrency test under ThreadSanitizer, then every unit test under valgrind memcheck,
# then filmo.dll cross-built for Windows with its tests under Wine, then the release artifacts
# (Debian packages checked by lintian and tried in a fresh Debian 12 root, the Windows SDK
# archive), then the fuzz targets for a short fixed time each. Installs what it needs (run as
# root).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

FILMO_WITH_FUZZ=1 scripts/install-deps.sh

step() { printf '\n=== %s (at %ss) ===\n' "$*" "$SECONDS"; }

step "release build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"
step "release tests"
ctest --test-dir build/release --output-on-failure -j "$jobs" --timeout 300

step "python package (pip install ./python into a fresh venv: library built in; pytest, mypy)"
rm -rf build/pyvenv
/usr/bin/python3 -m venv --system-site-packages build/pyvenv
env -u FILMO_LIBRARY CMAKE_BUILD_PARALLEL_LEVEL="$jobs" \
  build/pyvenv/bin/pip install -q --no-build-isolation --no-index --no-deps ./python
# FILMO_CLI: the release build's filmo command, whose --json the package's records must equal.
env -u FILMO_LIBRARY FILMO_CLI="$root/build/release/tools/filmo" \
  build/pyvenv/bin/python -m pytest -q -p no:cacheprovider python/tests
build/pyvenv/bin/python -m mypy --strict --cache-dir=/dev/null python/filmo

step "sanitizer build (ASan + UBSan)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFILMO_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
step "sanitizer tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600

step "thread sanitizer (in-memory fake transport under concurrent use)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFILMO_BUILD_TOOLS=OFF \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build/tsan -j "$jobs" --target fake_concurrency_test
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/fake_concurrency_test

step "valgrind memcheck (release build, every unit test)"
FILMO_VALGRIND_BUILD=build/valgrind scripts/valgrind.sh -LE soak

step "Windows x64 DLL (mingw-w64 cross build) and its tests under Wine"
scripts/windows.sh

step "release artifacts: Debian packages (lintian) and the Windows SDK archive (build/dist)"
scripts/package.sh
step "the Debian packages in a fresh Debian 12 root"
scripts/package-check.sh

if [ -d fuzz ] && [ -f fuzz/CMakeLists.txt ] && grep -q add_executable fuzz/CMakeLists.txt; then
  step "fuzz targets (short runs)"
  scripts/fuzz.sh "${FILMO_FUZZ_SECONDS:-20}"
fi
step "all tests passed"
