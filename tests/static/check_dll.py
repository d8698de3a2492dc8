#!/usr/bin/env python3
"""Static checks of the shipping 32-bit plug-in, which cannot run here.

- exactly the 23 entry points are exported, by undecorated names;
- the host entry points return with a plain `ret` (the caller removes the
  arguments); the COM entry points are __stdcall and pop their own;
- only system DLLs are imported;
- it ships without debug information, linked (name and checksum) to the
  separate symbols file, whose symbols also locate the entry points' code;
- its version resource and display name carry the project's version.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import zlib

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
    # A damaged file may give names that are not UTF-8: keep them readable.
    return subprocess.run(cmd, check=True, capture_output=True, text=True,
                          errors="replace").stdout


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


def sections(objdump, path):
    """Name -> (index, size, address, file offset) of each section."""
    found = {}
    for m in re.finditer(r"^\s*(\d+) (\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)",
                         run([objdump, "-h", path]), re.M):
        found[m.group(2)] = (int(m.group(1)), int(m.group(3), 16), int(m.group(4), 16),
                             int(m.group(5), 16))
    return found


def section_bytes(path, section):
    _, size, _, offset = section
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(size)


def code_symbols(objdump, symbols):
    """Address -> names of the symbols in .text, from the symbols file (the
    shipped binary has no symbol table)."""
    by_index = {index + 1: address for index, _, address, _ in sections(objdump, symbols).values()}
    found = {}
    for m in re.finditer(r"\(sec\s+(\d+)\).*\(nx \d+\) 0x([0-9a-f]+) (\S+)$",
                         run([objdump, "-t", symbols]), re.M):
        base = by_index.get(int(m.group(1)))
        if base is not None:
            found.setdefault(base + int(m.group(2), 16), []).append(m.group(3))
    return found


def function_bodies(objdump, dll, symbols):
    """Maps each symbol to the instructions up to the next symbol."""
    starts = code_symbols(objdump, symbols)
    bodies, current = {}, []
    for line in run([objdump, "-d", "--no-show-raw-insn", dll]).splitlines():
        m = re.match(r"\s*([0-9a-f]+):\t(.*)", line)
        if not m:
            continue
        names = starts.get(int(m.group(1), 16))
        if names:
            current = []
            for name in names:
                bodies[name] = current
        current.append(m.group(2).strip())
    return bodies


def returns(body):
    return [ins for ins in body if re.match(r"ret[lw]?\b", ins)]


def debug_link_failures(objdump, dll, symbols):
    found = sections(objdump, dll)
    failures = [f"debug section {name} in the shipped file" for name in found
                if name.startswith(".debug") or name.startswith(".zdebug")]
    if ".gnu_debuglink" not in found:
        return failures + ["no link to a symbols file (.gnu_debuglink)"]
    data = section_bytes(dll, found[".gnu_debuglink"])
    name = data.split(b"\0", 1)[0].decode()
    (crc,) = struct.unpack_from("<I", data, (len(name) + 4) & ~3)
    if name != os.path.basename(symbols):
        failures.append(f"linked symbols file is {name}, expected {os.path.basename(symbols)}")
    if not os.path.isfile(symbols):
        return failures + [f"no symbols file {symbols}"]
    with open(symbols, "rb") as f:
        actual = zlib.crc32(f.read())
    if crc != actual:
        failures.append(f"symbols file checksum {actual:08x}, the link says {crc:08x}")
    return failures


def version_blocks(data, offset):
    """Walks one VS_VERSIONINFO-style block: yields (key, value) of it and of
    every block inside it."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    if value_type == 1:  # text, length in characters with the terminator
        value = data[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        value_end = value_at + 2 * value_length
    else:
        value = data[value_at:value_at + value_length]
        value_end = value_at + value_length
    yield key, value
    child = (value_end + 3) & ~3
    while child + 6 <= end:
        child_length = struct.unpack_from("<H", data, child)[0]
        if child_length == 0:
            break
        yield from version_blocks(data, child)
        child = (child + child_length + 3) & ~3


def version_failures(objdump, dll, version):
    numbers = [int(n) for n in version.split(".")]
    if len(numbers) != 3:
        return [f"version {version}: expected three numbers"]
    found = sections(objdump, dll)
    if ".rsrc" not in found:
        return ["no resources"]
    data = section_bytes(dll, found[".rsrc"])
    at = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    if at < 6:
        return ["no version resource"]
    entries = list(version_blocks(data, at - 6))
    fixed = entries[0][1]
    failures = []
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    expected_ms, expected_ls = numbers[0] << 16 | numbers[1], numbers[2] << 16
    if signature != 0xFEEF04BD:
        failures.append("version resource: no fixed file information")
    elif (file_ms, file_ls, product_ms, product_ls) != (expected_ms, expected_ls) * 2:
        failures.append(f"version resource numbers {file_ms:08x}.{file_ls:08x} / "
                        f"{product_ms:08x}.{product_ls:08x}, expected {version}.0")
    texts = dict(entries[1:])
    for key, expected in (("FileVersion", version + ".0"), ("ProductVersion", version)):
        if texts.get(key) != expected:
            failures.append(f"version resource {key} is {texts.get(key)!r}, expected {expected!r}")
    suffix = f" Pendant --Zentorin Ver {version}\0".encode()
    with open(dll, "rb") as f:
        if suffix not in f.read():
            failures.append(f"display-name suffix for {version} not found")
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--symbols", help="separate symbols file (default: DLL.debug)")
    ap.add_argument("--version", required=True, help="the project's version, x.y.z")
    ap.add_argument("dll")
    args = ap.parse_args()
    symbols = args.symbols or args.dll + ".debug"

    failures = []
    names, imports = exports_and_imports(args.objdump, args.dll)
    expected = sorted(HOST_EXPORTS + list(COM_EXPORTS))
    if sorted(names) != expected:
        failures.append(f"exports differ: extra {sorted(set(names) - set(expected))}, "
                        f"missing {sorted(set(expected) - set(names))}")
    decorated = [n for n in names if "@" in n or n.startswith("_") or n.startswith("?")]
    if decorated:
        failures.append(f"decorated export names: {decorated}")

    failures += debug_link_failures(args.objdump, args.dll, symbols)
    failures += version_failures(args.objdump, args.dll, args.version)

    bodies = function_bodies(args.objdump, args.dll, symbols) if os.path.isfile(symbols) else {}
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
    print(f"{len(names)} exports, {len(imports)} imported DLLs ({', '.join(sorted(set(imports)))}), "
          f"version {args.version}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
