#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Reads the ISRC of every file named on the command line with mutagen, in one process."""
import sys

import mutagen

found = 0
for path in sys.argv[1:]:
    f = mutagen.File(path)
    if f is None or f.tags is None:
        continue
    tags = f.tags
    value = None
    if "TSRC" in tags:
        value = tags["TSRC"].text[0]
    elif "----:com.apple.iTunes:ISRC" in tags:
        value = bytes(tags["----:com.apple.iTunes:ISRC"][0]).decode()
    elif hasattr(tags, "get") and tags.get("ISRC"):
        value = tags.get("ISRC")[0]
    if value:
        found += 1
print(found, "codes", file=sys.stderr)
