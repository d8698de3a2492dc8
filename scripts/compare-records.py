#!/usr/bin/env python3
"""Compares the host-callback records of two builds, byte for byte.

Each stepped scenario run leaves records/NAME.rec: every DoButton, Code,
SetDRO and host-field write, values to the last bit. The 32-bit plug-in and
its x64 twin, fed the same input, must have made the same calls with the same
values. usage: compare-records.py DIR_A DIR_B
"""
import os
import sys

# The seeded random sessions: they must be there and have computed something.
REQUIRED = {"cross_build": 1000}


def records(d):
    return {f[:-4] for f in os.listdir(d) if f.endswith(".rec")} if os.path.isdir(d) else set()


def main():
    a, b = sys.argv[1], sys.argv[2]
    ra, rb = records(a), records(b)
    failures = []
    for name in sorted(ra ^ rb):
        failures.append(f"{name}: recorded by one build only ({a if name in ra else b})")
    for name, least in REQUIRED.items():
        if name not in ra & rb:
            failures.append(f"{name}: no record")
    lines = 0
    for name in sorted(ra & rb):
        with open(os.path.join(a, name + ".rec"), "rb") as f:
            la = f.read().split(b"\n")
        with open(os.path.join(b, name + ".rec"), "rb") as f:
            lb = f.read().split(b"\n")
        lines += len(la) - 1
        if name in REQUIRED:
            dros = sum(1 for l in la if l.startswith(b"< SetDRO "))
            if dros < REQUIRED[name]:
                failures.append(f"{name}: only {dros} SetDRO calls, the session exercised too little")
        if la == lb:
            continue
        n = next((i for i, (x, y) in enumerate(zip(la, lb)) if x != y), min(len(la), len(lb)))
        differ = sum(1 for x, y in zip(la, lb) if x != y) + abs(len(la) - len(lb))
        show = lambda ls: ls[n].decode(errors="replace") if n < len(ls) else "(end)"
        failures.append(f"{name}: {differ} lines differ, the first at line {n + 1}:\n"
                        f"    {a}: {show(la)}\n    {b}: {show(lb)}")
    for f in failures:
        print("FAIL:", f)
    print(f"{len(ra & rb)} records compared, {lines} callback lines, "
          f"{'identical' if not failures else 'different'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
