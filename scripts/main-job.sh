#!/usr/bin/env bash
# The main job: builds the library and the filmo command-line host, then shows the bundled
# sample corpus through it (home page, collections, a person, a page of popular people).
# Installs what it needs (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build/main -G Ninja -DCMAKE_BUILD_TYPE=Release -DFILMO_BUILD_TESTS=OFF >/dev/null
cmake --build build/main -j "$(nproc)" >/dev/null

filmo=build/main/tools/filmo
if [ ! -x "$filmo" ]; then
  echo "main-job: the build did not produce $filmo" >&2
  exit 1
fi
"$filmo" home "$@"
echo
"$filmo" collections
echo
"$filmo" person nm0000138
echo
"$filmo" popular
