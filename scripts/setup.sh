#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs every Debian 12 package that building, testing and the self test need.
# Does nothing when they are all there already. Needs root (or sudo) only to install.
# The list below is the project's one list of packages: debian/control and the README's table
# name the same ones, which scripts/check-deps.sh checks (`setup.sh --list` prints the list).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkgconf libicu-dev libssl-dev qt6-base-dev qt6-base-dev-tools libgtest-dev
  # the window's catalogues of texts (lupdate, lrelease and their CMake functions)
  qt6-tools-dev qt6-l10n-tools
  # ID3v2.4 frames another tagger stored compressed
  zlib1g-dev
  # formatting check
  clang-format
  # the self test's converter and inspector
  ffmpeg
  # interoperability tests: other tools that must see what we write
  flac lame python3-mutagen
  # the other readers the interoperability test runs on every file it writes
  libimage-exiftool-perl kid3-cli mediainfo
  # the same-recording rule: Chromaprint's fingerprints (its library, loaded at run time for
  # WAV and AIFF, whose header the build checks our declarations against; its fpcalc tool for
  # the other formats), and real music to measure it on (three tracks of asc-music, the module
  # of fb-music-high that ffmpeg renders)
  libchromaprint1 libchromaprint-dev libchromaprint-tools asc-music fb-music-high
  # FLAC decoded in-process for its fingerprint: libFLAC, loaded at run time (optional, as is
  # its header at build time)
  libflac12 libflac-dev
  # filesystems that share extents, loop-mounted by the tests when they run as root
  xfsprogs btrfs-progs
  # what a replacement keeps: ACLs, inode flags and extended attributes, set up by the tests
  acl attr e2fsprogs
  # code lists on the command line: the CSV parser
  libcsv-dev
  # the ledger of every code given
  libsqlite3-dev
  # the digest of a WAV's or AIFF's samples the ledger keeps (XXH3)
  libxxhash-dev
  # the man page (scdoc source), and the Debian package: its build tools, the build
  # dependencies debian/control names, and the checks CI runs on the result
  scdoc build-essential dpkg-dev debhelper lintian appstream desktop-file-utils
  # the packaging tests (the man page against --help) are Python scripts
  python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
