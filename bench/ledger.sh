#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What the ledger adds to a batch of 1,000 files: 250 recordings (excerpts of real music, 0.5 to
# 5 s) as WAV, FLAC, MP3 and M4A in four folders, written one code per recording, bare and as the
# command line does with the ledger (a new one, and one of 100,000 entries), paired, 5 rounds;
# and what the window's Code Ledger view costs over the ledger of 100,000 entries.
#   bench/ledger.sh [SCRATCH]     (default bench/out/ledger)
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=${1:-bench/out/ledger}
preset=${PRESET:-dev}
tool=build/$preset/tools/pelorix_ledger_bench
music=/usr/share/games/asc/music
set1="$scratch/batch"
if [ ! -d "$set1" ]; then
  mkdir -p "$set1.tmp"/{masters,flac,mp3,m4a}
  tracks=("$music"/*.mp3)
  for k in $(seq 0 249); do
    track=${tracks[$((k % ${#tracks[@]}))]}
    at=$((k / ${#tracks[@]} * 2))
    seconds=$(awk "BEGIN { print 0.5 + ($k % 10) * 0.5 }")
    name=$(printf 't%03d' "$k")
    ffmpeg -nostdin -v error -y -ss "$at" -t "$seconds" -i "$track" -ar 44100 -ac 2 \
      -c:a pcm_s16le "$set1.tmp/masters/$name.wav"
    flac -s -f "$set1.tmp/masters/$name.wav" -o "$set1.tmp/flac/$name.flac"
    lame --quiet -b 320 "$set1.tmp/masters/$name.wav" "$set1.tmp/mp3/$name.mp3"
    ffmpeg -nostdin -v error -y -i "$set1.tmp/masters/$name.wav" -c:a aac -b:a 256k \
      "$set1.tmp/m4a/$name.m4a"
  done
  mv "$set1.tmp" "$set1"
fi
[ "${MAKE_ONLY:-0}" = 1 ] && exit 0
cmake --build --preset "$preset" -j2 --target pelorix_ledger_bench >/dev/null
"$tool" "$set1" "$scratch/work" "${ROUNDS:-5}"
rm -rf "$scratch/work"
