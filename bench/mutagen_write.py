#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes ISRC FIABC2600001 into every file named, in place, with mutagen, in one process."""
import sys

import mutagen
from mutagen.id3 import TSRC
from mutagen.mp4 import MP4FreeForm

for path in sys.argv[1:]:
    f = mutagen.File(path)
    if path.endswith(".m4a"):
        f["----:com.apple.iTunes:ISRC"] = [MP4FreeForm(b"FIABC2600001")]
    elif path.endswith(".flac"):
        f["ISRC"] = "FIABC2600001"
    else:
        if f.tags is None:
            f.add_tags()
        f.tags.add(TSRC(encoding=0, text="FIABC2600001"))
    f.save()
