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
rm -rf "$dist"
mkdir -p "$dist" "$work"

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
(cd "$src" && DEB_BUILD_OPTIONS="parallel=$jobs noddebs" dpkg-buildpackage -b -us -uc >"$build_log" 2>&1) || {
  tail -n 40 "$build_log" >&2
  echo "package: dpkg-buildpackage failed (log: $build_log)" >&2
  exit 1
}
changes=$(ls "$work"/deb/filmo_"$version"_*.changes)
echo "package: lintian"
lintian --allow-root --fail-on error --info "$changes"
cp "$work"/deb/*.deb "$dist/"

ls -l "$dist"
