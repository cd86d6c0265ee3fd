#!/bin/sh
# SPDX-License-Identifier: MIT
# Times the window's batch against the command line's `--sequence` on the same fresh WAVs
# (default 400 of about 5 MiB, every one its own take, in two disc folders, 3 interleaved
# rounds), in the Release build, offscreen; prints wall and CPU time of each round and the
# medians. The window's batch should take at most 1.1 times the command line's run.
# Usage: bench/window_write.sh [--quick] [--cold] [FILES [MIB [ROUNDS]]]
#   --quick  120 files of about 4 MiB, 5 rounds (a few minutes once built)
#   --cold   the files' pages are dropped from the page cache before each timed part
#            (default: all of them cached, for both alike)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PELORIX_BUILD_DIR:-"$root/build/release"}

quick=
cold=
while [ $# -gt 0 ]; do
    case $1 in
    --quick) quick=1 ;;
    --cold) cold=--cold ;;
    *) break ;;
    esac
    shift
done
[ -n "$quick" ] && [ $# -eq 0 ] && set -- 120 4 5

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELORIX_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target pelorix pelorix_write_bench >/dev/null
# shellcheck disable=SC2086 # $cold is one word or none
QT_QPA_PLATFORM=offscreen "$build/tools/pelorix_write_bench" $cold "$@" 2>/dev/null
