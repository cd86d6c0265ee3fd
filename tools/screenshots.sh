#!/bin/sh
# SPDX-License-Identifier: MIT
# Renders the README screenshots offscreen: the empty window, a list of two discs with every
# status (Folder column), only the rows that need attention, the replace confirmation, a batch in
# progress, the sequence dialog, the preview of an imported list (the code column chosen), a
# pasted column with the status line's summary and the Code Ledger, each in a light and a dark
# palette.
# Usage: tools/screenshots.sh [output-folder]   (default: docs/screenshots)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/docs/screenshots"}
build=${PELORIX_BUILD_DIR:-"$root/build-screenshots"}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target pelorix_screenshots
QT_QPA_PLATFORM=offscreen "$build/tools/pelorix_screenshots" "$out"
