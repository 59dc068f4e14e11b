#!/usr/bin/env bash
# Tries the Debian packages of build/dist (scripts/package.sh) as a user on a fresh Debian 12
# machine meets them: in a pristine minbase root, the trixie suite and pin that install-deps
# sets, then `apt-get install ./*.deb`. There the README's C host must build with
# `pkg-config --cflags --libs filmo` (and with find_package(filmo)) and run over the bundled
# corpus, `filmo home` must show that corpus and `man filmo` must open, with no manual step
# between.
# The base root (debootstrap, plus gcc, pkgconf, cmake and man-db) is made once into
# build/package-check/base; each run works on a fresh copy of it. Needs root, debootstrap and
# mounts (a private mount namespace, /proc); where those are missing it says it skipped.
# Usage: scripts/package-check.sh [dist-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dist=$(realpath -m "${1:-build/dist}")
work=$PWD/build/package-check
base=$work/base
root=$work/root

skip() { echo "package-check: skipped: $*"; exit 0; }

if [ "${FILMO_IN_NAMESPACE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root"
  command -v debootstrap >/dev/null || skip "debootstrap is not installed"
  compgen -G "$dist/*.deb" >/dev/null || {
    echo "package-check: no .deb in $dist (run scripts/package.sh first)" >&2; exit 1; }
  # Every mount below lives in a namespace of its own. In a chroot "/" is no mount point, so
  # unshare cannot make the mounts private: there they keep their propagation and are
  # unmounted on the way out.
  propagation=private
  if ! unshare -m true 2>/dev/null; then
    propagation=unchanged
    unshare -m --propagation unchanged true 2>/dev/null ||
      skip "cannot make a mount namespace here"
  fi
  FILMO_IN_NAMESPACE=1 exec unshare -m --propagation "$propagation" bash "$0" "$@"
fi

source scripts/debian-archive.sh
mirror=$(debian_mirror)
[ -n "$mirror" ] || skip "no Debian archive serving bookworm in this machine's apt sources"

start=$(date +%s)
# A user's tools, not the packages' dependencies: those must come with apt-get install.
tools=gcc,libc6-dev,pkgconf,cmake,make,man-db
if [ "$(cat "$base/.ok" 2>/dev/null)" != "$tools" ]; then
  echo "package-check: making the base root (once)"
  rm -rf "$base"
  mkdir -p "$work"
  debootstrap --variant=minbase --include="$tools" bookworm "$base" \
    "$mirror" >"$work/debootstrap.log" 2>&1 || {
      tail -n 20 "$work/debootstrap.log" >&2
      skip "debootstrap could not make a root here (log: $work/debootstrap.log)"; }
  printf '%s' "$tools" > "$base/.ok"
fi
rm -rf "$root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
mount -t proc proc "$root/proc" || skip "cannot mount /proc in the root"
trap 'umount "$root/proc" 2>/dev/null || true' EXIT

in_root() {
  chroot "$root" /usr/bin/env -i HOME=/root DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
fail() { echo "package-check: $*" >&2; exit 1; }

# The trixie suite and its pin, as install-deps writes them; then the packages, nothing else.
trixie_list "$mirror" > "$root/etc/apt/sources.list.d/filmo-trixie.list"
printf '%s\n' "$trixie_pin" > "$root/etc/apt/preferences.d/filmo-trixie"
mkdir -p "$root/tmp/dist"
cp "$dist"/*.deb "$root/tmp/dist/"
in_root apt-get update -qq >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get update"; }
in_root sh -c 'apt-get install -y -qq --no-install-recommends /tmp/dist/*.deb' \
  >>"$work/apt.log" 2>&1 || { tail -n 30 "$work/apt.log" >&2; fail "apt-get install ./*.deb"; }
echo "package-check: installed $(cd "$dist" && echo *.deb)"

# The README's C host, built the way the README says, run over the corpus filmo-tools ships.
awk '/^```c$/ { on = 1; next } on && /^```$/ { exit } on' README.md > "$root/tmp/host.c"
in_root sh -c 'cd /tmp && gcc -std=c99 -Wall -Werror host.c $(pkg-config --cflags --libs filmo) \
  -o host' || fail "the README's C host does not build with pkg-config's flags"
in_root /tmp/host /usr/share/filmo/corpus >"$work/host.out" 2>&1 || {
  cat "$work/host.out" >&2; fail "the README's C host failed"; }
[ -s "$work/host.out" ] || fail "the README's C host printed no collections"
# And through the CMake package: find_package(filmo) gives filmo::filmo.
mkdir -p "$root/tmp/cmake-host"
cat > "$root/tmp/cmake-host/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.22)
project(host C)
find_package(filmo 1.0 REQUIRED)
add_executable(host ../host.c)
target_link_libraries(host PRIVATE filmo::filmo)
CMAKE
in_root sh -c 'cd /tmp/cmake-host && cmake -S . -B build && cmake --build build' \
  >"$work/cmake-host.log" 2>&1 || {
    tail -n 20 "$work/cmake-host.log" >&2; fail "find_package(filmo) does not build the host"; }
in_root /tmp/cmake-host/build/host /usr/share/filmo/corpus >/dev/null ||
  fail "the host built through find_package(filmo) failed"

in_root filmo home >"$work/home.out" 2>&1 || { cat "$work/home.out" >&2; fail "filmo home failed"; }
if ! grep -q '^Home page' "$work/home.out" || ! grep -q '^Titles (' "$work/home.out"; then
  cat "$work/home.out" >&2; fail "filmo home did not show the bundled corpus"
fi

in_root man -P cat filmo >"$work/man.out" 2>&1 || { cat "$work/man.out" >&2; fail "man filmo"; }
grep -q 'NAME' "$work/man.out" || fail "man filmo shows no manual page"

echo "package-check: in a fresh Debian 12 root the packages install, the README's C host"
echo "  builds (pkg-config, find_package) and runs, filmo home shows the bundled corpus and" \
     "man filmo opens" \
     "($(( $(date +%s) - start ))s)"
