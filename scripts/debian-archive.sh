#!/usr/bin/env bash
# Sourced by scripts/install-deps.sh and scripts/package-check.sh: where this machine's Debian
# archive is, and how its trixie suite is added for yyjson 0.10 alone.

# The Debian archive this machine already uses: the first URI that serves bookworm, from deb822
# files (/etc/apt/sources.list.d/*.sources) or the one-line /etc/apt/sources.list of a fresh
# debootstrap root. Its trixie suite is added beside it; no mirror is named here.
debian_mirror() {
  local f uri=
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    uri=$(awk '
      BEGIN { RS = ""; FS = "\n" }
      {
        uris = ""; suites = ""; types = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^[Uu][Rr][Ii][Ss]:/)     { uris = $i;   sub(/^[^:]*:[ \t]*/, "", uris) }
          if ($i ~ /^[Ss]uites:/)            { suites = $i; sub(/^[^:]*:[ \t]*/, "", suites) }
          if ($i ~ /^[Tt]ypes:/)             { types = $i;  sub(/^[^:]*:[ \t]*/, "", types) }
        }
        if (types ~ /(^|[ \t])deb([ \t]|$)/ && suites ~ /(^|[ \t])bookworm([ \t]|$)/) {
          split(uris, u, /[ \t]+/); print u[1]; exit
        }
      }' "$f")
    [ -n "$uri" ] && break
  done
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" {
                 i = 2; if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
                 if ($(i + 1) == "bookworm") { print $i; exit }
               }' /etc/apt/sources.list)
  fi
  printf '%s' "$uri"
}

# The trixie suite beside bookworm, same archive, and its pin: below 100, so apt takes from it
# only what exists nowhere else (libyyjson0) or what it is asked for by name.
trixie_list() { printf 'deb %s trixie main' "$1"; }
trixie_pin='Package: *
Pin: release n=trixie
Pin-Priority: 50'
