#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# From a fresh machine: install what is missing, build the release binary, run its self test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release -DPELORIX_BUILD_TESTS=OFF >/dev/null
cmake --build --preset release --target pelorix
exec build/release/pelorix --selftest
