#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The same-recording rule on real music, and what it costs.
#   bench/recordings.sh [SCRATCH]     (default bench/out/recordings)
# 1. Builds the set of scripts/recording-set.sh (four tracks, 75 s excerpts, plus a fade that
#    differs in shape alone) and prints every pair as a table: judged same, different, undecided.
# 2. Cuts four-minute tracks as WAV, AIFF, FLAC, MP3 and M4A and takes their fingerprints one
#    after another, in processor time (user and system, this process and its children: the
#    machine may be shared), as files per second per core; WAV also as fpcalc alone hears it.
# 3. Groups 1,000 ten-second WAVs of exactly one length (windows of real music), then the same
#    with 100 FLAC copies of some of them, without listening, in processor time.
# SKIP_TABLE=1 leaves out step 1.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=${1:-bench/out/recordings}
preset=${PRESET:-release}
cmake --build --preset "$preset" -j2 --target pelorix_recordings >/dev/null
tool=build/$preset/tools/pelorix_recordings
mkdir -p "$scratch"
if [ "${SKIP_TABLE:-0}" != 1 ]; then
  echo "## Every pair of the set"
  rm -rf "$scratch/set"
  REFADE=1 bash scripts/recording-set.sh "$scratch/set" 75 4
  "$tool" table "$scratch/set" || true
  echo
fi

echo "## Fingerprint speed (four-minute tracks, the first two minutes heard)"
long="$scratch/long"
if [ ! -d "$long" ]; then
  mkdir -p "$long.tmp"
  i=0
  for f in /usr/share/games/asc/music/*.mp3; do
    ffmpeg -nostdin -v error -y -t 240 -i "$f" -ar 44100 -ac 2 -c:a pcm_s16le "$long.tmp/$i.wav"
    ffmpeg -nostdin -v error -y -i "$long.tmp/$i.wav" -c:a pcm_s16be "$long.tmp/$i.aiff"
    flac -s -f "$long.tmp/$i.wav" -o "$long.tmp/$i.flac" 2>/dev/null
    lame --quiet -V2 "$long.tmp/$i.wav" "$long.tmp/$i.mp3"
    ffmpeg -nostdin -v error -y -i "$long.tmp/$i.wav" -c:a aac -b:a 192k "$long.tmp/$i.m4a"
    i=$((i + 1))
  done
  mv "$long.tmp" "$long"
fi
for ext in wav aiff flac mp3 m4a; do
  printf '%-5s ' "$ext"
  "$tool" speed "$long"/*."$ext" "$long"/*."$ext" "$long"/*."$ext"
done
printf '%-5s ' "wav, fpcalc alone:"
PELORIX_CHROMAPRINT='' "$tool" speed "$long"/*.wav "$long"/*.wav "$long"/*.wav
echo

echo "## Grouping 1,000 files of one length, without listening"
same="$scratch/same"
if [ ! -d "$same" ]; then
  mkdir -p "$same.tmp/wav" "$same.tmp/flac"
  # All the music decoded once; 1,000 windows of ten seconds, one second apart.
  for f in /usr/share/games/asc/music/*.mp3; do
    ffmpeg -nostdin -v error -i "$f" -ar 44100 -ac 2 -f s16le -
  done >"$same.tmp/all.raw"
  python3 - "$same.tmp" <<'EOF'
import os, sys, wave
out = sys.argv[1]
frame, rate, seconds = 4, 44100, 10
with open(os.path.join(out, "all.raw"), "rb") as f:
    pcm = f.read()
total = len(pcm) // frame
step = (total - seconds * rate) // 999
for k in range(1000):
    start = k * step * frame
    with wave.open(os.path.join(out, "wav", "w%04d.wav" % k), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm[start:start + seconds * rate * frame])
EOF
  rm "$same.tmp/all.raw"
  for k in $(seq 0 10 999); do
    n=$(printf 'w%04d' "$k")
    flac -s -f "$same.tmp/wav/$n.wav" -o "$same.tmp/flac/$n.flac" 2>/dev/null
  done
  mv "$same.tmp" "$same"
fi
printf 'WAV only:        '
"$tool" group "$same"/wav/*.wav
printf 'with 100 FLACs:  '
"$tool" group "$same"/wav/*.wav "$same"/flac/*.flac
