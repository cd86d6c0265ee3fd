#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Formats every C++ file with the committed .clang-format; with --check, changes nothing and
# fails on the first difference (what CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  exec clang-format --dry-run -Werror "${files[@]}"
fi
exec clang-format -i "${files[@]}"
