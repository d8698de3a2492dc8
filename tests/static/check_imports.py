#!/usr/bin/env python3
"""The shipping 32-bit plug-in loads on every Windows it supports.

Compares the DLL's import table, DLL by DLL, with the allow-list kept in
tests/static/imports-win32.txt: each import must be listed, and each listed
function must be in Windows XP SP3 (the oldest supported). A function not
listed fails the check until someone adds it with the oldest Windows that
has it.
"""
import argparse
import re
import subprocess
import sys

VERSIONS = ["2000", "XP", "XP SP1", "XP SP2", "XP SP3", "Vista", "7", "8", "8.1", "10"]
OLDEST_SUPPORTED = "XP SP3"


def read_allow_list(path):
    """{dll: {function: version}}, or exits with the faulty line."""
    allowed, dll = {}, None
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.split("#", 1)[0].strip()
            if not line:
                continue
            m = re.fullmatch(r"\[(\S+)\]", line)
            if m:
                dll = m.group(1).lower()
                allowed.setdefault(dll, {})
                continue
            m = re.fullmatch(r"(\S+)\s+(.+)", line)
            if not m or dll is None or m.group(2) not in VERSIONS:
                sys.exit(f"{path}:{n}: expected [DLL] or FUNCTION VERSION ({', '.join(VERSIONS)})")
            allowed[dll][m.group(1)] = m.group(2)
    return allowed


def read_imports(objdump, dll_file):
    """{dll: [function]} from the import table."""
    text = subprocess.run([objdump, "-p", dll_file], check=True, capture_output=True,
                          text=True).stdout
    imports, dll = {}, None
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            imports.setdefault(dll, [])
            continue
        if dll is None:
            continue
        if not line.strip():  # the end of this DLL's list
            dll = None
            continue
        m = re.match(r"\s+[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if m:
            imports[dll].append(m.group(2))
    return imports


def check(imports, allowed):
    failures = []
    limit = VERSIONS.index(OLDEST_SUPPORTED)
    for dll in sorted(imports):
        for fn in sorted(imports[dll]):
            version = allowed.get(dll, {}).get(fn)
            if version is None:
                failures.append(f"{dll} {fn}: not in the allow-list; add it with the oldest "
                                f"Windows that has it")
            elif VERSIONS.index(version) > limit:
                failures.append(f"{dll} {fn}: needs Windows {version}, newer than "
                                f"{OLDEST_SUPPORTED}; look it up at run time with a fallback")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--allow", required=True)
    ap.add_argument("dll")
    args = ap.parse_args()
    allowed = read_allow_list(args.allow)
    imports = read_imports(args.objdump, args.dll)
    failures = check(imports, allowed)
    for f in failures:
        print("FAIL:", f)
    count = sum(len(v) for v in imports.values())
    print(f"{count} imports from {len(imports)} DLLs checked against "
          f"{sum(len(v) for v in allowed.values())} allowed functions "
          f"(oldest supported: Windows {OLDEST_SUPPORTED})")
    return 1 if failures or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
