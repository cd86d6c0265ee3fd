#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The man page and `pelorix --help` name the same options, and the packaging files the same
version as the program. Usage: man_options.py PELORIX SOURCE_DIR"""
import pathlib
import re
import subprocess
import sys

binary, source = sys.argv[1], pathlib.Path(sys.argv[2])
# Every word that starts with "--": "--read", "--write-list", and "--" on its own.
OPTION = re.compile(r"(?<![\w-])--(?:[a-z][a-z0-9-]*)?(?![\w=])")


def run(*args):
    return subprocess.run([binary, *args], capture_output=True, text=True, check=True).stdout


failures = []
man = set(OPTION.findall((source / "docs/pelorix.1.scd").read_text()))
helped = set(OPTION.findall(run("--help")))
for name, missing in (("the man page", helped - man), ("--help", man - helped)):
    if missing:
        failures.append(f"{name} lacks {' '.join(sorted(missing))}")

version = run("--version").split()[-1]
for path, pattern in (("debian/changelog", r"^pelorix \(([^)]+)\)"),
                      ("resources/io.github.pelorix.Pelorix.metainfo.xml", r'<release version="([^"]+)"'),
                      ("NEWS", r"^PELORIX (\S+) \(\d")):
    found = re.search(pattern, (source / path).read_text(), re.M)
    if not found or found.group(1) != version:
        failures.append(f"{path} names {found and found.group(1)}, the program {version}")

print("\n".join(failures) or f"{len(man)} options and version {version} agree")
sys.exit(1 if failures else 0)
