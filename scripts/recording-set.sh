#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds a set of real music for the same-recording rule: from each source track an excerpt as a
# WAV master, its copies (FLAC, MP3 V0, 128 and 320 kbps, AAC in M4A) and its edits (a radio edit
# 15 s shorter, a fade 6 s sooner, 1 dB louder, a remix with the next track).
#   recording-set.sh OUTDIR [SECONDS] [TRACKS]
# Sources: the music of asc-music and the module of fb-music-high (rendered by ffmpeg). Prints
# nothing; exits 77 when no source or no encoder is there.
set -euo pipefail
out=$1
seconds=${2:-75}
tracks=${3:-4}
for tool in ffmpeg flac lame; do command -v "$tool" >/dev/null || exit 77; done
sources=()
for f in /usr/share/games/asc/music/*.mp3 /usr/share/games/frozen-bubble/snd/*.xm; do
  [ -f "$f" ] && sources+=("$f")
done
[ ${#sources[@]} -ge 2 ] || exit 77
[ ${#sources[@]} -gt "$tracks" ] && sources=("${sources[@]:0:$tracks}")
mkdir -p "$out"
ff() { ffmpeg -nostdin -v error -y "$@"; }
fade=$((seconds - 3))
n=${#sources[@]}
# Masters first: the remix of track i mixes in the master of track i+1.
for i in "${!sources[@]}"; do
  d="$out/t$i"
  mkdir -p "$d"
  # Start 20 s in, past any intro, so every excerpt has music from its first second.
  ff -ss 20 -t "$seconds" -i "${sources[$i]}" -ar 44100 -ac 2 \
    -af "afade=t=out:st=$fade:d=3" -c:a pcm_s16le -map_metadata -1 "$d/master.wav"
done
for i in "${!sources[@]}"; do
  d="$out/t$i"
  m="$d/master.wav"
  other="$out/t$(((i + 1) % n))/master.wav"
  flac -s -f "$m" -o "$d/master.flac" 2>/dev/null
  lame --quiet -V0 "$m" "$d/v0.mp3"
  lame --quiet -b128 "$m" "$d/b128.mp3"
  lame --quiet -b320 "$m" "$d/b320.mp3"
  ff -i "$m" -c:a aac -b:a 160k "$d/aac.m4a"
  ff -i "$m" -af volume=1dB -c:a pcm_s16le "$d/louder.wav"
  # The radio edit drops 15 s from the middle.
  half=$((seconds / 2 - 8))
  ff -i "$m" -filter_complex \
    "[0]atrim=0:$half,asetpts=N/SR/TB[a];[0]atrim=$((half + 15)),asetpts=N/SR/TB[b];[a][b]concat=n=2:v=0:a=1" \
    -c:a pcm_s16le "$d/radio.wav"
  # Faded out over 8 s, ending 6 s sooner (as a single's fade does).
  ff -ss 20 -t "$((seconds - 6))" -i "${sources[$i]}" -ar 44100 -ac 2 \
    -af "afade=t=out:st=$((seconds - 14)):d=8" -c:a pcm_s16le "$d/fade.wav"
  # With REFADE=1, a fade that differs in shape alone: the same length, faded over 12 s.
  if [ "${REFADE:-0}" = 1 ]; then
    ff -ss 20 -t "$seconds" -i "${sources[$i]}" -ar 44100 -ac 2 \
      -af "afade=t=out:st=$((seconds - 12)):d=12" -c:a pcm_s16le "$d/refade.wav"
  fi
  ff -i "$m" -i "$other" -filter_complex "amix=inputs=2:duration=first:normalize=0" \
    -c:a pcm_s16le "$d/remix.wav"
done
