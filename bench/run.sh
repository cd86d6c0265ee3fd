#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The benchmark: generates its own files with ffmpeg into a scratch folder, then measures
# `pelorix --write` against the same durable replace done with shell tools (`cp FILE FILE.tmp &&
# sync FILE.tmp && mv -f FILE.tmp FILE && sync FOLDER`), a durable copy (`cp && sync`), an ffmpeg
# remux and AtomicParsley, and `pelorix --read` of 5,000 small files against mutagen — all in the
# same run, with the paired, interleaved harness measure.py (each command RUNS times, files reset
# outside the timing).
#
#   bench/run.sh [SCRATCH [measure.py options]]   (default scratch: bench/out; about 5 GB)
#   RUNS=7 bench/run.sh bench/out --only big.wav,read
#   bench/run.sh bench/out --quick            # the large writes alone (WAV, MP3, M4A), minutes
#   bench/run.sh bench/out --quick --busy     # the same with every core kept busy
#
# Prints Markdown tables (medians, ratios, processor time, the load average during each table)
# and peak memory of each write; also writes SCRATCH/results.md.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
scratch="${1:-$here/out}"
shift || true
runs="${RUNS:-5}"
mkdir -p "$scratch"
scratch="$(cd "$scratch" && pwd)"

need=()
for p in atomicparsley python3-mutagen ffmpeg time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# The binary under test: an optimised build, as shipped (its window module is built beside it
# and loaded only when the window opens). Set CORE=1 to also measure a build without the window.
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPELORIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build/release" --target pelorix -j2 >/dev/null
core=()
if [ "${CORE:-0}" = 1 ]; then
  cmake -S "$root" -B "$root/build/release-core" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DPELORIX_BUILD_TESTS=OFF -DPELORIX_BUILD_UI=OFF >/dev/null
  cmake --build "$root/build/release-core" --target pelorix -j2 >/dev/null
  core=(--pelorix-core "$root/build/release-core/pelorix")
fi

quick=()
for a in "$@"; do [ "$a" = --quick ] && quick=(--quick); done
/usr/bin/python3 "$here/make_files.py" "$scratch" "${quick[@]}"
/usr/bin/python3 "$here/measure.py" --pelorix "$root/build/release/pelorix" "${core[@]}" \
  --scratch "$scratch" --runs "$runs" "$@"
