#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A label's release coded from its own sheet, on the command line, timed and checked.
#   bench/trial.sh [--window] [SCRATCH [MATCH]]     (default /tmp/pelorix-trial, title)
# Makes (once) two discs of WAV masters, 6 and 5 tracks, cut from real music (asc-music and
# fb-music-high, rendered by ffmpeg), their FLAC and MP3 shop copies in other folders, with
# tags as shops have them, and the label's sheet "Track;Title;ISRC" as a spreadsheet exports
# it: 11 recordings, 33 files, one line per recording. Then, on fresh copies, runs
#   pelorix --write-list "label sheet.csv" release shop --match MATCH
# with a ledger of its own, prints its wall and CPU time and checks with `pelorix --read` that
# every one of the 33 files carries its recording's code. With --window the same is done in the
# window under xvfb-run by tools/release_trial.cpp, which prints the user's steps and the
# seconds of each. Exits 1 when a file does not carry its code, 77 when the music or an encoder
# is missing. PELORIX_BUILD_DIR names the build (default build/release).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
window=
if [ "${1:-}" = --window ]; then
  window=1
  shift
fi
scratch=${1:-/tmp/pelorix-trial}
match=${2:-title}
build=${PELORIX_BUILD_DIR:-"$root/build/release"}
pelorix=$build/pelorix
for tool in ffmpeg flac lame; do command -v "$tool" >/dev/null || exit 77; done
sources=()
for f in /usr/share/games/asc/music/*.mp3 /usr/share/games/frozen-bubble/snd/*.xm; do
  [ -f "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -ge 2 ] || exit 77

artist="Kaamos Ensemble"
album="Northern Hours"
titles=("Opening" "Harbour Lights" "Iron Field" "Frontiers" "Night Watch" "Yö"
  "Second Dawn" "Ice Garden" "Long Road" "Last Stand" "Coda")
discOf() { if [ "$1" -lt 6 ]; then echo 1; else echo 2; fi; }
trackOf() { if [ "$1" -lt 6 ]; then echo $(($1 + 1)); else echo $(($1 - 5)); fi; }
codeOf() { printf 'FI-K7Q-26-%05d' $((101 + $1)); }

made="$scratch/made"
if [ ! -f "$made/label sheet.csv" ]; then
  rm -rf "$made"
  mkdir -p "$made/release/CD1" "$made/release/CD2" "$made/shop/flac" "$made/shop/mp3"
  ff() { ffmpeg -nostdin -v error -y "$@"; }
  n=${#sources[@]}
  {
    echo "Track;Title;ISRC"
    for i in "${!titles[@]}"; do
      title=${titles[$i]}
      disc=$(discOf "$i")
      track=$(trackOf "$i")
      nn=$(printf %02d "$track")
      # Every recording its own stretch of music and its own length (24 to 44 s).
      src=${sources[$((i % n))]}
      start=$((15 + (i / n) * 60))
      seconds=$((24 + 2 * i))
      wav="$made/release/CD$disc/$nn $title.wav"
      ff -ss "$start" -t "$seconds" -i "$src" -ar 44100 -ac 2 \
        -af "afade=t=out:st=$((seconds - 3)):d=3" -c:a pcm_s16le -map_metadata -1 \
        -fflags +bitexact "$wav"
      flac -s -f "$wav" -o "$made/shop/flac/$disc-$nn $title.flac" \
        --tag="TITLE=$title" --tag="ARTIST=$artist" --tag="ALBUM=$album" \
        --tag="TRACKNUMBER=$track" --tag="DISCNUMBER=$disc" 2>/dev/null
      lame --quiet -V2 --id3v2-only --tt "$title" --ta "$artist" --tl "$album" \
        --tn "$track" --tv "TPOS=$disc" "$wav" "$made/shop/mp3/$artist - $title.mp3"
      echo "$disc-$nn;$title;$(codeOf "$i")"
    done
  } >"$made/label sheet.csv.part"
  mv "$made/label sheet.csv.part" "$made/label sheet.csv"
fi

for binary in "$pelorix" ${window:+"$build/tools/pelorix_release_trial"}; do
  [ -x "$binary" ] || {
    echo "no $binary (cmake --build --preset release)" >&2
    exit 1
  }
done

# Fresh copies, on the disk before the clock runs.
work="$scratch/run"
rm -rf "$work"
cp -a "$made" "$work"
sync
export PELORIX_LEDGER="$work/ledger.sqlite3"
cd "$work"
status=0
if [ -n "$window" ]; then
  echo "the window: release, shop and \"label sheet.csv\" dropped on it, match by $match"
  xvfb-run -a /usr/bin/time -f "%e s wall, %U s user + %S s system" \
    "$build/tools/pelorix_release_trial" --match "$match" release shop "label sheet.csv" \
    2>&1 || status=$?
else
  echo "pelorix --write-list \"label sheet.csv\" release shop --match $match"
  /usr/bin/time -f "%e s wall, %U s user + %S s system" \
    "$pelorix" --write-list "label sheet.csv" release shop --match "$match" 2>&1 || status=$?
fi
echo "exit status $status"

# Every file carries its recording's code: the sheet's code for the title in its name.
"$pelorix" --read release shop >"$work/read.txt" 2>&1 || true
wrong=0
files=0
for i in "${!titles[@]}"; do
  title=${titles[$i]}
  disc=$(discOf "$i")
  nn=$(printf %02d "$(trackOf "$i")")
  want=$(codeOf "$i" | tr -d -)
  for f in "release/CD$disc/$nn $title.wav" "shop/flac/$disc-$nn $title.flac" \
    "shop/mp3/$artist - $title.mp3"; do
    files=$((files + 1))
    got=$(grep -F -- "$f" "$work/read.txt" | head -1)
    if [[ "$(tr -d - <<<"$got")" != *"$want"* ]]; then
      echo "WRONG: $f: ${got:-not listed} (want $(codeOf "$i"))"
      wrong=$((wrong + 1))
    fi
  done
done
echo "$((files - wrong)) of $files files carry their recording's code"
[ "$wrong" -eq 0 ]
