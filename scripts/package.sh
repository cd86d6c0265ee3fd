#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from a copy of the source tree in build/deb/, so the tree itself
# stays clean, and checks it with lintian. The package lands in build/deb/:
#   build/deb/pelorix_<version>_<arch>.deb
# The test suite is not run here (DEB_BUILD_OPTIONS=nocheck): CI runs it on its own.
# Usage: scripts/package.sh [--no-lintian]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh  # the build dependencies and lintian, on a fresh machine
root=$(pwd)
out="$root/build/deb"

# One version number: CMake's project(VERSION); debian/changelog must agree with it.
version=$(sed -n 's/^project(pelorix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb_version=$(dpkg-parsechangelog -S Version)
if [ "$version" != "$deb_version" ]; then
  echo "package.sh: CMakeLists.txt says $version, debian/changelog says $deb_version" >&2
  exit 1
fi

rm -rf "$out"
src="$out/pelorix-$version"
mkdir -p "$src"
# The files git knows (committed or not, never the ignored build folders); a tree that is
# not a git checkout is copied without its build folders.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -xf - -C "$src"
fi

# ccache, when it is there, makes rebuilds cheap; the copy's path never changes.
if [ -d /usr/lib/ccache ] && [ -z "${PELORIX_NO_CCACHE:-}" ]; then
  export PATH="/usr/lib/ccache:$PATH"
fi
(
  cd "$src"
  DEB_BUILD_OPTIONS="nocheck parallel=${PELORIX_JOBS:-2}" DEB_BUILD_PROFILES=nocheck \
    dpkg-buildpackage -us -uc -b
)
rm -rf "$src"
ls -1 "$out"/*.deb

if [ "${1:-}" != "--no-lintian" ]; then
  # Errors and warnings fail the build; the informational tags are printed for the record.
  lintian --fail-on error,warning --info "$out"/pelorix_"${version}"_*.changes
fi
