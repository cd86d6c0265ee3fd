#!/bin/sh
# SPDX-License-Identifier: MIT
# Renders the README screenshots offscreen: the empty window, a list with every status and the
# replace confirmation, a batch in progress, the sequence dialog and the preview of an imported
# list, each in a light and a dark palette.
# Usage: tools/screenshots.sh [output-folder]   (default: docs/screenshots)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/docs/screenshots"}
build=${PELORIX_BUILD_DIR:-"$root/build-screenshots"}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target pelorix_screenshots
QT_QPA_PLATFORM=offscreen "$build/tools/pelorix_screenshots" "$out"
