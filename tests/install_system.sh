#!/bin/sh
# cmake --install into /usr/local as root, then the README's C host, built with pkg-config and
# nothing else (no rpath, no LD_LIBRARY_PATH), must start at once: the install refreshed the
# loader's cache. All of it in a mount namespace of its own, over an empty /usr/local and a
# copy-on-write /etc, so the machine's own stay untouched.
# Usage: install_system.sh SOURCE_DIR BINARY_DIR WORK_DIR. Exit 77: cannot run here (skipped).
set -eu
src=$1 bin=$2 work=$3

if [ "${FILMO_IN_NAMESPACE:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: needs root (installs into /usr/local)"; exit 77
  fi
  # In a chroot "/" is no mount point, so unshare cannot make the mounts private: there they
  # keep their propagation and are unmounted on the way out.
  propagation=private
  if ! unshare -m true 2>/dev/null; then
    propagation=unchanged
    if ! unshare -m --propagation unchanged true 2>/dev/null; then
      echo "skipped: cannot make a mount namespace here"; exit 77
    fi
  fi
  rm -rf "$work"
  mkdir -p "$work/etc-layer"
  FILMO_IN_NAMESPACE=1 exec unshare -m --propagation "$propagation" sh "$0" "$@"
fi

undo_mounts() {
  umount /etc 2>/dev/null || true
  umount "$work/etc-layer" 2>/dev/null || true
  umount /usr/local 2>/dev/null || true
}
trap undo_mounts EXIT

mount -t tmpfs filmo-usr-local /usr/local
# The writable layer lives on a tmpfs: not every file system can hold one.
mount -t tmpfs filmo-etc-layer "$work/etc-layer"
mkdir "$work/etc-layer/upper" "$work/etc-layer/work"
if ! mount -t overlay filmo-etc \
       -o "lowerdir=/etc,upperdir=$work/etc-layer/upper,workdir=$work/etc-layer/work" /etc; then
  echo "skipped: cannot lay a writable layer over /etc here"; exit 77
fi

cmake --install "$bin" --prefix /usr/local > "$work/install.log"

awk '/^```c$/ { on = 1; next } on && /^```$/ { exit } on' "$src/README.md" > "$work/host.c"
# shellcheck disable=SC2046 # pkg-config's flags are meant to be split
cc -std=c99 -Wall -Werror "$work/host.c" $(pkg-config --cflags --libs filmo) -o "$work/host"
if ! "$work/host" /usr/local/share/filmo/corpus > "$work/host.out"; then
  tail -n 3 "$work/install.log"; exit 1
fi
if [ ! -s "$work/host.out" ]; then
  echo "the README host printed no collections"; exit 1
fi
head -n 3 "$work/host.out"
echo "the README host runs against /usr/local with no manual step"
