#!/usr/bin/env python3
"""Replaces the creation time that widl writes into a type library
("Created by WIDL version 7.0 at Tue Dec  8 08:37:11 2026") with the epoch,
so that the same sources give the same bytes. The text keeps its length,
so nothing else in the file moves."""
import re
import sys

path = sys.argv[1]
with open(path, "rb") as f:
    data = f.read()
fixed = re.sub(rb"(Created by WIDL version [0-9.]+ at )[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4}",
               rb"\1Thu Jan  1 00:00:00 1970", data)
if fixed != data:
    with open(path, "wb") as f:
        f.write(fixed)
