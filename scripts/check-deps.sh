#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The project's packages are listed once, in scripts/setup.sh. This checks that the other two
# places that name them agree: every package debian/control names is installed by setup.sh,
# every library setup.sh installs for the build (*-dev) is a Build-Depends, and the README's
# dependency table names exactly the packages setup.sh installs. Prints each disagreement.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t listed < <(bash scripts/setup.sh --list)

# The names in one field of debian/control (continuation lines and comments included), without
# versions, build profiles and substitution variables.
control_field() {
  awk -v field="$1" '
    /^#/ { next }
    /^[^ \t]/ { inside = ($0 ~ "^" field ":"); sub("^[^:]*:", "") }
    inside { print }' debian/control |
    tr ',' '\n' | sed -e 's/([^)]*)//g' -e 's/<[^>]*>//g' -e 's/\[[^]]*\]//g' |
    awk '{ for (i = 1; i <= NF; i++) if ($i !~ /^\$\{/) print $i }' |
    grep -v '^debhelper-compat$' || true
}
mapfile -t build < <(control_field Build-Depends)
mapfile -t control < <(control_field Build-Depends; control_field Depends; control_field Recommends)

# The names in backticks in the first column of the README's dependency table.
mapfile -t readme < <(
  awk '/^## Dependencies/ { inside = 1; next } /^## / { inside = 0 } inside && /^\| `/' README.md |
    cut -d'|' -f2 | tr -d '`' | tr ' ' '\n' | grep -v '^$' || true)

has() {  # has WORD LIST...
  local word=$1
  shift
  grep -qxF -- "$word" <<<"$(printf '%s\n' "$@")"
}

problems=0
complain() {
  echo "$1"
  problems=$((problems + 1))
}
for p in "${control[@]}"; do
  has "$p" "${listed[@]}" || complain "$p: named in debian/control, not installed by scripts/setup.sh"
done
for p in "${listed[@]}"; do
  # dpkg-dev is the package builder, not a library the build links
  if [[ $p == *-dev && $p != dpkg-dev ]] && ! has "$p" "${build[@]}"; then
    complain "$p: a library setup.sh installs for the build, missing from Build-Depends in debian/control"
  fi
  has "$p" "${readme[@]}" || complain "$p: installed by scripts/setup.sh, missing from the README's dependency table"
done
for p in "${readme[@]}"; do
  has "$p" "${listed[@]}" || complain "$p: in the README's dependency table, not installed by scripts/setup.sh"
done
if [ "$problems" -gt 0 ]; then
  echo "$problems disagreement(s); the list in scripts/setup.sh is the one to follow (docs/HACKING.md)"
  exit 1
fi
echo "${#listed[@]} packages: scripts/setup.sh, debian/control and the README agree"
