#!/usr/bin/env python3
"""Builds the fixture corpus from its readable sources.

The catalogue server sends the home page zlib-compressed, so the fixture backend serves the two
home pages as .zlib files; every other answer is served as the JSON file itself. This script
copies the JSON answers into the output directory and compresses the home page sources
(homepage.<name>.json becomes homepage.<name>.zlib). The home page text is compressed exactly as
written, so its content hash is the stable hash of the source file's bytes.

usage: make_corpus.py OUTPUT_DIR SOURCE.json...
"""
import os
import sys
import zlib


def write_atomically(path, data):
    # A test may read the corpus while it is rebuilt: never show it a half-written file.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    out_dir, sources = argv[1], argv[2:]
    os.makedirs(out_dir, exist_ok=True)
    produced = set()
    for src in sources:
        name = os.path.basename(src)
        with open(src, "rb") as f:
            data = f.read()
        if name.startswith("homepage.") and name.endswith(".json"):
            name = name[: -len(".json")] + ".zlib"
            data = zlib.compress(data, 9)
        write_atomically(os.path.join(out_dir, name), data)
        produced.add(name)
    # A source that was removed must not linger in the corpus and keep answering.
    for name in os.listdir(out_dir):
        if name not in produced and (name.endswith(".json") or name.endswith(".zlib")):
            os.remove(os.path.join(out_dir, name))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
