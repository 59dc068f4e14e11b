#!/usr/bin/env bash
# Installs everything filmo needs to build, test and benchmark on Debian 12 ("bookworm").
# Idempotent; run as root. yyjson 0.10 exists only in Debian 13 ("trixie"): that suite is
# added with a pin below 100, so apt never takes anything from it unless asked by name,
# and only libyyjson-dev and libyyjson0 are installed from it.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

# debian_mirror and the trixie suite's source line and pin, shared with the fresh-root check.
source "$(dirname "$0")/debian-archive.sh"

mirror=$(debian_mirror)
if [ -z "$mirror" ]; then
  echo "install-deps: no Debian archive serving bookworm found in this machine's apt sources" >&2
  echo "install-deps: (looked in /etc/apt/sources.list.d/*.sources and /etc/apt/sources.list)" >&2
  exit 1
fi

list=/etc/apt/sources.list.d/filmo-trixie.list
pin=/etc/apt/preferences.d/filmo-trixie
want_list=$(trixie_list "$mirror")
want_pin=$trixie_pin

changed=0
if [ "$(cat "$list" 2>/dev/null)" != "$want_list" ]; then
  printf '%s\n' "$want_list" > "$list"; changed=1
fi
if [ "$(cat "$pin" 2>/dev/null)" != "$want_pin" ]; then
  printf '%s\n' "$want_pin" > "$pin"; changed=1
fi

# The Windows cross build (FILMO_WITH_WINDOWS=1, scripts/windows.sh) builds yyjson from Debian's
# own source package: trixie's deb-src line beside the binary one, same archive. Its upstream
# tarball is a .tar.xz, so xz-utils comes with the cross compiler and Wine below.
if [ "${FILMO_WITH_WINDOWS:-0}" = 1 ]; then
  src_list=/etc/apt/sources.list.d/filmo-trixie-src.list
  want_src="deb-src $mirror trixie main"
  if [ "$(cat "$src_list" 2>/dev/null)" != "$want_src" ]; then
    printf '%s\n' "$want_src" > "$src_list"; changed=1
  fi
fi

bookworm_pkgs=(cmake ninja-build g++ pkg-config make zlib1g-dev libcurl4-openssl-dev
               libgtest-dev libgmock-dev libbenchmark-dev python3 ca-certificates valgrind)
# The Python package: installed offline into a venv (Debian's setuptools and wheel), tested with
# pytest and type-checked with mypy.
bookworm_pkgs+=(python3-venv python3-pip python3-setuptools python3-wheel python3-pytest mypy)
# The TLS tests make their certificates with the openssl command.
bookworm_pkgs+=(openssl)
trixie_pkgs=(libyyjson-dev libyyjson0)
# ISA-L's igzip: the bounded inflate's inflater on x86-64 (zlib elsewhere).
if [ "$(dpkg --print-architecture)" = amd64 ]; then
  bookworm_pkgs+=(libisal-dev)
fi
if [ "${FILMO_WITH_FUZZ:-0}" = 1 ]; then
  bookworm_pkgs+=(clang libclang-rt-14-dev)
fi
if [ "${FILMO_WITH_WINDOWS:-0}" = 1 ]; then
  bookworm_pkgs+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 xz-utils)
fi
# Release artifacts (FILMO_WITH_PACKAGES=1, scripts/package.sh): the Debian packages are built
# with debhelper and checked with lintian; the Windows archive's MSVC import library is made by
# llvm-dlltool and checked by linking with lld-link; debootstrap makes the fresh root the
# packages are tried in.
if [ "${FILMO_WITH_PACKAGES:-0}" = 1 ]; then
  bookworm_pkgs+=(build-essential debhelper dpkg-dev lintian llvm lld clang zip unzip debootstrap)
fi

missing=()
for p in "${bookworm_pkgs[@]}" "${trixie_pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ] && [ $changed -eq 0 ]; then
  exit 0
fi

apt-get update -qq
apt-get install -y -qq --no-install-recommends "${bookworm_pkgs[@]}" >/dev/null
apt-get install -y -qq --no-install-recommends -t trixie "${trixie_pkgs[@]}" >/dev/null
echo "install-deps: done"
