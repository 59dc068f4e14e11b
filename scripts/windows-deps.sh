#!/usr/bin/env bash
# Builds what filmo.dll needs for 64-bit Windows, once, into build/windows-deps/prefix: yyjson
# 0.10 (from Debian's source package) and GoogleTest (from /usr/src/googletest). Sourced by
# scripts/windows.sh and scripts/package.sh after install-deps ran with FILMO_WITH_WINDOWS=1;
# expects root and jobs set, and sets toolchain and prefix.
toolchain=$root/cmake/mingw-w64-x86_64.cmake
deps=$root/build/windows-deps
prefix=$deps/prefix

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

