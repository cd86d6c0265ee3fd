#!/bin/sh
# SPDX-License-Identifier: MIT
# Times the window's batch against the command line's `--sequence` on the same fresh WAVs
# (default 400 of 5 MiB in two disc folders, 3 interleaved rounds), in the Release build,
# offscreen; prints each round and the medians.
# Usage: bench/window_write.sh [FILES [MIB [ROUNDS]]]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PELORIX_BUILD_DIR:-"$root/build/release"}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELORIX_WERROR=ON >/dev/null
cmake --build "$build" --target pelorix pelorix_write_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tools/pelorix_write_bench" "$@" 2>/dev/null
