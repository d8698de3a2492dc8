#!/usr/bin/env python3
"""Static checks of the shipping 32-bit plug-in, which cannot run here.

- exactly the 23 entry points are exported, by undecorated names;
- the host entry points return with a plain `ret` (the caller removes the
  arguments); the COM entry points are __stdcall and pop their own;
- only system DLLs are imported.
"""
import argparse
import re
import subprocess
import sys

HOST_EXPORTS = [
    "SetDoButton", "SetSetDRO", "SetGetDRO", "SetGetLED", "SetSetLED", "SetCode",
    "SetProName", "InitControl", "PostInitControl", "Config", "Update", "StopPlug",
    "DoDwell", "Reset", "JogOn", "JogOff", "Purge", "Probe", "Home",
]
# __stdcall: bytes of arguments each one pops.
COM_EXPORTS = {"DllGetClassObject": 12, "DllCanUnloadNow": 0,
               "DllRegisterServer": 0, "DllUnregisterServer": 0}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ole32.dll",
               "oleaut32.dll", "ws2_32.dll", "setupapi.dll", "hid.dll", "comctl32.dll",
               "msvcrt.dll"}


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def exports_and_imports(objdump, dll):
    text = run([objdump, "-p", dll])
    if "file format pei-i386" not in text:
        sys.exit(f"{dll}: not a 32-bit x86 PE image")
    names = []
    in_names = False
    for line in text.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_names = True
            continue
        if in_names:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if not m:
                in_names = False
                continue
            names.append(m.group(1))
    imports = [m.group(1).lower() for m in re.finditer(r"DLL Name: (\S+)", text)]
    return names, imports


def function_bodies(objdump, dll):
    """Maps each symbol to the instructions up to the next symbol."""
    bodies, current = {}, None
    for line in run([objdump, "-d", "--no-show-raw-insn", dll]).splitlines():
        m = re.match(r"[0-9a-f]+ <([^>]+)>:", line)
        if m:
            current = m.group(1)
            bodies[current] = []
        elif current and "\t" in line:
            bodies[current].append(line.split("\t", 1)[1].strip())
    return bodies


def returns(body):
    return [ins for ins in body if re.match(r"ret[lw]?\b", ins)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("dll")
    args = ap.parse_args()

    failures = []
    names, imports = exports_and_imports(args.objdump, args.dll)
    expected = sorted(HOST_EXPORTS + list(COM_EXPORTS))
    if sorted(names) != expected:
        failures.append(f"exports differ: extra {sorted(set(names) - set(expected))}, "
                        f"missing {sorted(set(expected) - set(names))}")
    decorated = [n for n in names if "@" in n or n.startswith("_") or n.startswith("?")]
    if decorated:
        failures.append(f"decorated export names: {decorated}")

    bodies = function_bodies(args.objdump, args.dll)
    for name in HOST_EXPORTS:
        body = bodies.get("_" + name) or bodies.get(name)
        if body is None:
            failures.append(f"{name}: no code found")
            continue
        rets = returns(body)
        bad = [r for r in rets if r.split()[1:]]
        if not rets and not any(i.startswith("jmp") for i in body):
            failures.append(f"{name}: no return found")
        if bad:
            failures.append(f"{name}: returns with an operand ({bad[0]}), caller cleans the stack")
    for name, pops in COM_EXPORTS.items():
        body = next((b for s, b in bodies.items() if s.lstrip("_").split("@")[0] == name), None)
        if body is None:
            failures.append(f"{name}: no code found")
            continue
        for r in returns(body):
            operand = r.split()[1:]
            value = int(operand[0].lstrip("$"), 16) if operand else 0
            if value != pops:
                failures.append(f"{name}: '{r}', expected to pop {pops} bytes")

    foreign = sorted(set(imports) - SYSTEM_DLLS)
    if foreign:
        failures.append(f"imports from non-system DLLs: {foreign}")

    for f in failures:
        print("FAIL:", f)
    print(f"{len(names)} exports, {len(imports)} imported DLLs ({', '.join(sorted(set(imports)))})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
