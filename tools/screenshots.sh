#!/bin/sh
# Renders the README screenshots offscreen: the empty window, a list with every status and the
# sequence sheet, each in a light and a dark palette.
# Usage: tools/screenshots.sh [output-folder]   (default: docs/screenshots)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/docs/screenshots"}
build=${PELORIX_BUILD_DIR:-"$root/build-screenshots"}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target screenshots_test
mkdir -p "$out"
out=$(cd "$out" && pwd)
QT_QPA_PLATFORM=offscreen PELORIX_SCREENSHOTS="$out" "$build/tests/screenshots_test"
ls -1 "$out"/*.png
