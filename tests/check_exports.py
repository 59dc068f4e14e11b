#!/usr/bin/env python3
"""Checks that a shared library or DLL exports exactly the operations its public headers declare
(and that a DLL needs no DLL beyond the system's)."""
import re
import subprocess
import sys

# check_exports.py [--objdump OBJDUMP] LIBRARY HEADER...: a DLL is read with the objdump of the
# toolchain that built it, a shared object with nm.
args = sys.argv[1:]
objdump = None
if args[:1] == ["--objdump"]:
    objdump, args = args[1], args[2:]
lib, headers = args[0], args[1:]
declared = set()
for h in headers:
    text = open(h, encoding="utf-8").read()
    for m in re.finditer(r"(?:FILMO_API|VORNAK_API)\s[^;(]*?\b((?:filmo|vornak)_\w+)\s*\(", text):
        declared.add(m.group(1))



def elf_exports(path):
    out = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True,
                         text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[1] in "TtWwDdBbRrVvi":
            names.add(parts[2].split("@")[0])
    return names - {"_init", "_fini"}


def pe_exports(path, objdump):
    """The names of a DLL's export table ("[Ordinal/Name Pointer] Table" of objdump -p)."""
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                         text=True).stdout
    names, inside = set(), False
    for line in out.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            inside = True
        elif inside:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)$", line)
            if not m:
                break
            names.add(m.group(1))
    return names


# A DLL needs nothing beyond the system's own DLLs: the C and C++ runtimes are linked in.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "winhttp.dll", "user32.dll", "advapi32.dll",
               "ws2_32.dll", "ntdll.dll", "bcrypt.dll"}


def pe_imports(path, objdump):
    out = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                         text=True).stdout
    return {m.group(1) for m in re.finditer(r"^\s*DLL Name: (\S+)", out, re.M)}


exported = pe_exports(lib, objdump) if objdump else elf_exports(lib)
foreign = sorted(d for d in pe_imports(lib, objdump) if d.lower() not in SYSTEM_DLLS) \
    if objdump else []
for name in foreign:
    print("needs a DLL that is not the system's:", name)

missing = sorted(declared - exported)
extra = sorted(exported - declared)
for name in missing:
    print("declared but not exported:", name)
for name in extra:
    print("exported but not declared:", name)
print(f"{len(declared)} declared, {len(exported)} exported")
sys.exit(1 if missing or extra or foreign else 0)
