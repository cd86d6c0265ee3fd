#!/bin/sh
# SPDX-License-Identifier: MIT
# Times how long the window takes to list a folder of small files (default 2,000), in the
# Release build, offscreen, RUNS times (default 5); prints each run and the median.
# Usage: bench/window_add.sh [FILES]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PELORIX_BUILD_DIR:-"$root/build/release"}
files=${1:-2000}
runs=${RUNS:-5}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELORIX_WERROR=ON >/dev/null
cmake --build "$build" --target pelorix_add_bench >/dev/null
i=0
while [ "$i" -lt "$runs" ]; do
  QT_QPA_PLATFORM=offscreen "$build/tools/pelorix_add_bench" "$files" 2>/dev/null
  i=$((i + 1))
done | tee /dev/stderr | sed -n 's/.*all listed after \([0-9]*\) ms.*/\1/p' | sort -n |
  awk '{ v[NR] = $1 } END { printf "median: %d ms to list %d files\n", v[int((NR + 1) / 2)], '"$files"' }'
