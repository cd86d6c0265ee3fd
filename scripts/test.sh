#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# From a fresh machine: install what is missing, build everything, run the whole test suite.
# With --asan the same suite runs under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=dev
if [ "${1:-}" = "--asan" ]; then preset=asan; fi
bash scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset" -j2
