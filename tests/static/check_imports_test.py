#!/usr/bin/env python3
"""The import check fails where it must: an unlisted import, or a listed one
newer than the oldest supported Windows."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_imports  # noqa: E402


class CheckImports(unittest.TestCase):
    allowed = {"kernel32.dll": {"CancelIo": "2000", "CancelIoEx": "Vista",
                                "GetTickCount64": "Vista", "Sleep": "2000",
                                "InitializeSRWLock": "XP SP3"}}

    def test_cases(self):
        cases = [
            ({"kernel32.dll": ["CancelIo", "Sleep"]}, []),
            ({"kernel32.dll": ["InitializeSRWLock"]}, []),
            ({"kernel32.dll": ["CancelIoEx"]}, ["kernel32.dll CancelIoEx: needs Windows Vista"]),
            ({"kernel32.dll": ["GetTickCount64", "Sleep"]}, ["kernel32.dll GetTickCount64: needs"]),
            ({"kernel32.dll": ["CreateFile2"]}, ["kernel32.dll CreateFile2: not in the allow-list"]),
            # Listed under another DLL is not listed.
            ({"user32.dll": ["Sleep"]}, ["user32.dll Sleep: not in the allow-list"]),
        ]
        for imports, expected in cases:
            failures = check_imports.check(imports, self.allowed)
            self.assertEqual(len(failures), len(expected), (imports, failures))
            for f, e in zip(failures, expected):
                self.assertTrue(f.startswith(e), (f, e))

    def test_allow_list_format(self):
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as f:
            f.write("# note\n[KERNEL32.dll]\nCancelIo   2000  # since NT 4\nSleep XP SP2\n")
        try:
            self.assertEqual(check_imports.read_allow_list(f.name),
                             {"kernel32.dll": {"CancelIo": "2000", "Sleep": "XP SP2"}})
            with open(f.name, "a") as out:
                out.write("Sleep Windows 95\n")
            with self.assertRaises(SystemExit):
                check_imports.read_allow_list(f.name)
        finally:
            os.unlink(f.name)


if __name__ == "__main__":
    unittest.main()
