#!/usr/bin/env python3
"""The static checks must fail on the faults they are there to catch: each
case takes the built DLL and its symbols file, spoils one thing in a copy,
and expects the check to fail naming it (and to pass on the unspoiled
pair)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile


def bump_major(version):
    major, rest = version.split(".", 1)
    return f"{int(major) + 1}.{rest}"


def flip_last_byte(path):
    with open(path, "r+b") as f:
        f.seek(-1, os.SEEK_END)
        last = f.read(1)[0]
        f.seek(-1, os.SEEK_END)
        f.write(bytes([last ^ 0xFF]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--objcopy", default="i686-w64-mingw32-objcopy")
    ap.add_argument("--version", required=True)
    ap.add_argument("dll")
    args = ap.parse_args()
    check = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_dll.py")
    name = os.path.basename(args.dll)

    def add_debug_section(dll, work):
        blob = os.path.join(work, "blob")
        with open(blob, "wb") as f:
            f.write(b"\0" * 64)
        subprocess.run([args.objcopy, "--add-section", f".debug_info={blob}", dll], check=True,
                       capture_output=True)

    # (what is spoiled, how, --version given, text a failure must contain; None: must pass)
    cases = [
        ("nothing", None, args.version, None),
        ("version", None, bump_major(args.version), "version resource FileVersion"),
        ("display name", None, bump_major(args.version), "display-name suffix"),
        ("symbols file", lambda dll, work: flip_last_byte(dll + ".debug"), args.version,
         "symbols file checksum"),
        ("symbols file gone", lambda dll, work: os.remove(dll + ".debug"), args.version,
         "no symbols file"),
        ("debug section", add_debug_section, args.version, "debug section .debug_info"),
    ]
    failures = 0
    for what, spoil, version, expected in cases:
        with tempfile.TemporaryDirectory() as work:
            dll = os.path.join(work, name)
            shutil.copyfile(args.dll, dll)
            shutil.copyfile(args.dll + ".debug", dll + ".debug")
            if spoil:
                spoil(dll, work)
            result = subprocess.run(
                [sys.executable, check, "--objdump", args.objdump, "--version", version, dll],
                capture_output=True, text=True)
            output = result.stdout + result.stderr
            if expected is None:
                ok = result.returncode == 0
            else:
                ok = result.returncode != 0 and expected in output
            print(f"{'ok  ' if ok else 'FAIL'} spoiled {what}")
            if not ok:
                print(output)
                failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
