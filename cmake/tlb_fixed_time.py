#!/usr/bin/env python3
"""Sets the creation time that widl writes into a type library to the epoch,
so that the same sources give the same bytes. widl stores it twice, as
custom data: the text "Created by WIDL version 7.0 at Tue Dec  8 08:37:11
2026" and, right after it, the same time as a 32-bit number (VT_UI4). Both
keep their length, so nothing else in the file moves."""
import re
import sys

CREATED = re.compile(
    rb"(Created by WIDL version [0-9.]+ at )"
    rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}"  # asctime()
    rb"(\nW{0,3}\x13\x00)....",  # padding, VT_UI4, the time_t
    re.S)

path = sys.argv[1]
with open(path, "rb") as f:
    data = f.read()
fixed = CREATED.sub(rb"\1Thu Jan  1 00:00:00 1970\2\0\0\0\0", data)
if fixed != data:
    with open(path, "wb") as f:
        f.write(fixed)
