#!/usr/bin/env python3
"""Fails when a file of the source tree names a host outside this machine and the names reserved
for documentation and tests: the repository names no package mirror (install-deps takes the
archive from the machine's apt sources) and no server of any kind besides 127.0.0.1.

Checked: every file but build trees and grown fuzz corpora; in each, the host of every URL ("scheme://host"), and every bare dotted name that ends in a
common public top-level domain. Allowed: 127.0.0.0/8, localhost, and names under .example,
.test, .invalid, .localhost or example.org/.com/.net; and the format URI of debian/copyright's
Format field.

Usage: check_no_hosts.py SOURCE_DIR"""
import os
import re
import subprocess
import sys

SKIP_DIRS = {".git", "corpus-run", "__pycache__", ".cache"}
# Fuzz inputs grown by mutation hold made-up names (mangled documentation domains); the named
# seeds come from fuzz/make_seeds.py, which is checked.
SKIP_PATHS = {os.path.join("fuzz", "seeds")}
URL = re.compile(rb"[A-Za-z][A-Za-z0-9+.-]*://(?:[^/@\s\"'<>]*@)?([A-Za-z0-9.-]+)")
# Top-level domains that are no member name in this code base (".at", ".io" are).
BARE = re.compile(rb"(?<![A-Za-z0-9.@/-])((?:[A-Za-z0-9-]+\.)+(?:org|com|net|edu|gov|info|eu|uk|"
                  rb"de|fr|nl|ch|jp|cn|ru|au|se|fi|dk|pl|cz|br))(?![A-Za-z0-9(-])")
RESERVED = (".example", ".test", ".invalid", ".localhost", "example.org", "example.com",
            "example.net")
# The Format field that opens a machine-readable Debian copyright file names that format by its
# URI, not a place anything is fetched from; lintian checks its value.
FORMAT_FIELD_FILES = {os.path.join("debian", "copyright")}


def allowed(host):
    host = host.lower().rstrip(".")
    if "." not in host or host == "localhost":
        return True  # a single label names no outside host
    if re.fullmatch(r"127(\.\d{1,3}){3}", host):
        return True
    for r in RESERVED:
        if host == r.lstrip(".") or host.endswith(r if r.startswith(".") else "." + r):
            return True
    return False


def tracked_files(root):
    """The files of the repository as git sees them (tracked, or new and not ignored), so that
    build folders and tool caches never count; None outside a git checkout."""
    try:
        out = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                              "--exclude-standard"], capture_output=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    names = [n.decode("utf-8", "surrogateescape") for n in out.split(b"\0") if n]
    return [n for n in names if not any(n == p or n.startswith(p + os.sep) for p in SKIP_PATHS)]


def walked_files(root):
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        dirnames[:] = [d for d in dirnames if d not in SKIP_DIRS and
                       os.path.normpath(os.path.join(rel, d)) not in SKIP_PATHS and
                       not (rel == "." and d.startswith("build"))]
        for name in filenames:
            yield os.path.relpath(os.path.join(dirpath, name), root)


def main(root):
    bad = []
    files = tracked_files(root)
    for rel in files if files is not None else walked_files(root):
        try:
            with open(os.path.join(root, rel), "rb") as f:
                data = f.read()
        except OSError:
            continue
        if rel in FORMAT_FIELD_FILES and data.startswith(b"Format:"):
            data = data[data.find(b"\n"):] if b"\n" in data else b""
        for pattern in (URL, BARE):
            for m in pattern.finditer(data):
                host = m.group(1).decode("ascii", "replace")
                if not allowed(host):
                    line = data.count(b"\n", 0, m.start()) + 1
                    bad.append("%s:%d: %s" % (rel, line, host))
    for b in bad:
        print("names an outside host: " + b)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
