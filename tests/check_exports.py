#!/usr/bin/env python3
"""Checks that a shared library exports exactly the operations its public headers declare."""
import re
import subprocess
import sys

lib, headers = sys.argv[1], sys.argv[2:]
declared = set()
for h in headers:
    text = open(h, encoding="utf-8").read()
    for m in re.finditer(r"(?:FILMO_API|VORNAK_API)\s[^;(]*?\b((?:filmo|vornak)_\w+)\s*\(", text):
        declared.add(m.group(1))

out = subprocess.run(["nm", "-D", "--defined-only", lib], check=True, capture_output=True,
                     text=True).stdout
exported = set()
for line in out.splitlines():
    parts = line.split()
    if len(parts) >= 3 and parts[1] in "TtWwDdBbRrVvi":
        exported.add(parts[2].split("@")[0])
exported -= {"_init", "_fini"}

missing = sorted(declared - exported)
extra = sorted(exported - declared)
for name in missing:
    print("declared but not exported:", name)
for name in extra:
    print("exported but not declared:", name)
print(f"{len(declared)} declared, {len(exported)} exported")
sys.exit(1 if missing or extra else 0)
