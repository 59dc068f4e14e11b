#!/usr/bin/env bash
# Builds the release artifacts into build/dist (or the directory given):
#   libfilmo1_*.deb, libfilmo-dev_*.deb, filmo-tools_*.deb  Debian packages (debian/, debhelper),
#                                                          checked with lintian (errors fail)
#   filmo-VERSION-win64.zip                                 the Windows SDK: filmo.dll, its mingw
#                                                          and MSVC import libraries, headers
# Installs what it needs (run as root). Work files stay under build/package.
# Usage: scripts/package.sh [dist-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
dist=$(realpath -m "${1:-build/dist}")
work=$root/build/package

FILMO_WITH_WINDOWS=1 FILMO_WITH_PACKAGES=1 scripts/install-deps.sh

version=$(sed -n 's/^project(filmo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
if [ "$deb_version" != "$version" ]; then
  echo "package: debian/changelog is at $deb_version, CMakeLists.txt at $version:" \
       "add a changelog entry (dch -v $version)" >&2
  exit 1
fi
mkdir -p "$dist" "$work"
# Only this script's own artifacts are replaced: the directory may hold anything else.
rm -f "$dist"/libfilmo1_*.deb "$dist"/libfilmo-dev_*.deb "$dist"/filmo-tools_*.deb \
  "$dist"/filmo-*-win64.zip

# ---- Debian packages ---------------------------------------------------------------------------
# dpkg-buildpackage writes beside the source tree, so it builds a copy of the tree's files (the
# ones git sees, committed or not) inside the work directory.
src=$work/deb/filmo-$version
rm -rf "$work/deb"
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$src"
fi
build_log=$work/deb/build.log
(cd "$src" && DEB_BUILD_OPTIONS="parallel=$jobs noddebs" \
   dpkg-buildpackage -b -us -uc >"$build_log" 2>&1) || {
  tail -n 40 "$build_log" >&2
  echo "package: dpkg-buildpackage failed (log: $build_log)" >&2
  exit 1
}
changes=$(ls "$work"/deb/filmo_"$version"_*.changes)
echo "package: lintian"
lintian --allow-root --fail-on error --info "$changes"
cp "$work"/deb/*.deb "$dist/"

# ---- Windows SDK archive -----------------------------------------------------------------------
# filmo.dll with the mingw import library libfilmo.dll.a and the definition file filmo.def (the
# cross build's install tree), plus filmo.lib, the import library Microsoft's linker takes, made
# from filmo.def; the headers, the README's Windows section and the licence.
source scripts/windows-deps.sh
win=$work/windows
cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DFILMO_WINDOWS_PREFIX="$prefix" -DFILMO_BUILD_TOOLS=OFF -DFILMO_BUILD_TESTS=OFF >/dev/null
cmake --build "$win" -j "$jobs" >/dev/null
sdk=$work/sdk
rm -rf "$sdk"
cmake --install "$win" --prefix "$sdk" >/dev/null
llvm-dlltool-14 -m i386:x86-64 -d "$sdk/lib/filmo.def" -D filmo.dll -l "$sdk/lib/filmo.lib"
awk '/^## The Windows DLL/ { on = 1 } /^## / && !/^## The Windows DLL/ { on = 0 } on' README.md \
  | sed 's/$/\r/' > "$sdk/README-windows.txt"
sed 's/$/\r/' LICENSE > "$sdk/LICENSE.txt"
zip_name=filmo-$version-win64.zip
(cd "$sdk" && zip -q -r -X "$dist/$zip_name" .)

# The archive as a Windows developer meets it: unpacked, every export of filmo.def has an import
# in filmo.lib; a host linked by lld-link (Microsoft's linker's command line) against filmo.lib
# alone, and the C host linked by mingw-w64 against libfilmo.dll.a, both run under Wine.
echo "package: checking $zip_name"
check=$work/sdk-check
rm -rf "$check"
mkdir -p "$check"
unzip -q "$dist/$zip_name" -d "$check/sdk"
awk 'NR > 1 && NF { print $1 }' "$check/sdk/lib/filmo.def" | sort > "$check/def-exports"
llvm-nm-14 "$check/sdk/lib/filmo.lib" 2>/dev/null \
  | sed -n 's/^.* [A-Z] __imp_\(.*\)$/\1/p' | sort -u > "$check/lib-imports"
if [ ! -s "$check/def-exports" ] || ! cmp -s "$check/def-exports" "$check/lib-imports"; then
  echo "package: filmo.lib does not import exactly what filmo.def exports:" >&2
  diff "$check/def-exports" "$check/lib-imports" >&2 || true
  exit 1
fi
# The MSVC-style host has no C runtime: ExitProcess comes from an import library made alike.
printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess\n' > "$check/kernel32.def"
llvm-dlltool-14 -m i386:x86-64 -d "$check/kernel32.def" -l "$check/kernel32.lib"
clang --target=x86_64-pc-windows-msvc -ffreestanding -std=c99 -Wall -Werror \
  -I"$check/sdk/include" -c tests/windows/msvc_host.c -o "$check/msvc_host.obj"
lld-link /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib \
  "$check/msvc_host.obj" "$check/sdk/lib/filmo.lib" "$check/kernel32.lib" \
  /out:"$check/msvc_host.exe"
x86_64-w64-mingw32-gcc -std=c99 -Wall -Werror tests/install_host.c -I"$check/sdk/include" \
  -L"$check/sdk/lib" -lfilmo -o "$check/mingw_host.exe"
cp "$check/sdk/bin/filmo.dll" "$check/"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
for host in msvc_host mingw_host; do
  if ! (cd "$check" && timeout 120 wine "./$host.exe" >"$host.out" 2>&1); then
    echo "package: $host.exe failed under Wine:" >&2
    cat "$check/$host.out" >&2
    exit 1
  fi
done

ls -l "$dist"
