#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the lines of product code, of test code (tests/ and the fuzz harness; checked-in
# corpus and fixture data not counted) and their ratio. Lines are counted as wc -l counts them.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { git ls-files -co --exclude-standard "$@" | grep -E '\.(cpp|h|py|sh)$' | xargs -r cat | wc -l; }
product=$(count src)
tests=$(count tests fuzz ':!fuzz/corpus' ':!tests/data')
echo "product code: $product lines (src/)"
echo "test code:    $tests lines (tests/, fuzz/ without its corpus)"
awk -v t="$tests" -v p="$product" 'BEGIN { printf "ratio:        %.1f %%\n", 100 * t / p }'
