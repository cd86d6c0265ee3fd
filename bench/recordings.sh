#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The same-recording rule on real music, and what a fingerprint costs.
#   bench/recordings.sh [SCRATCH]     (default bench/out/recordings)
# 1. Builds the set of scripts/recording-set.sh (four tracks, 75 s excerpts, plus a fade that
#    differs in shape alone) and prints every pair as a table: judged same, different, undecided.
# 2. Cuts four-minute tracks as WAV, FLAC, MP3 and M4A and times their fingerprints one after
#    another on one core, then a batch grouped on every core.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=${1:-bench/out/recordings}
# The time is fpcalc's (decoding and Chromaprint) and the files' reading; the build type of our
# side hardly matters, so the dev build serves.
preset=${PRESET:-dev}
cmake --build --preset "$preset" -j2 --target pelorix_recordings >/dev/null
tool=build/$preset/tools/pelorix_recordings
rm -rf "$scratch"
mkdir -p "$scratch"
echo "## Every pair of the set"
REFADE=1 bash scripts/recording-set.sh "$scratch/set" 75 4
"$tool" table "$scratch/set" || true
echo
echo "## Fingerprint speed (four-minute tracks, the first two minutes heard)"
long="$scratch/long"
mkdir -p "$long"
i=0
for f in /usr/share/games/asc/music/*.mp3; do
  ffmpeg -nostdin -v error -y -t 240 -i "$f" -ar 44100 -ac 2 -c:a pcm_s16le "$long/$i.wav"
  flac -s -f "$long/$i.wav" -o "$long/$i.flac" 2>/dev/null
  lame --quiet -V2 "$long/$i.wav" "$long/$i.mp3"
  ffmpeg -nostdin -v error -y -i "$long/$i.wav" -c:a aac -b:a 192k "$long/$i.m4a"
  i=$((i + 1))
done
for ext in wav flac mp3 m4a; do
  printf '%-5s ' "$ext"
  "$tool" speed "$long"/*."$ext" "$long"/*."$ext" "$long"/*."$ext"
done
