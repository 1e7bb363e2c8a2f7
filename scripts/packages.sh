#!/usr/bin/env bash
# Builds the Debian packages of each given build tree (native or Arm) and runs
# lintian on them; fails on any lintian error. The packages stay in
# <build-dir>/packages/.
# Usage: scripts/packages.sh build-dir...
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || { echo "usage: scripts/packages.sh build-dir..." >&2; exit 2; }
bash scripts/deps.sh lintian
debs=()
for build in "$@"; do
  rm -rf "$build/packages"
  cpack --config "$build/CPackConfig.cmake" -B "$build/packages" >"$build/cpack.log" 2>&1 ||
    { cat "$build/cpack.log"; echo "packages.sh: cpack failed in $build" >&2; exit 1; }
  debs+=("$build"/packages/*.deb)
done
status=0
for deb in "${debs[@]}"; do
  echo "== lintian $deb"
  # Informational tags too, so that what is kept shows; only errors fail.
  report=$(lintian --display-info --fail-on error "$deb" 2>&1) || status=1
  report=$(grep -v '^running with root privileges' <<<"$report" || true)
  echo "${report:-(no tags)}"
done
exit "$status"
