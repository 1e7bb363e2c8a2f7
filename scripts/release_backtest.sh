#!/bin/sh
# Backtests a release of the driver against the working tree's build: the
# plug-in of git revision REV (built in a temporary worktree, removed after)
# runs the baseline, the working tree's the candidate, over the given sites
# (default: the bundled fleet). Both sides run each site's own settings.
#
#   scripts/release_backtest.sh REV [SITES...]
#
# BUILD: the working tree's build folder (default build/), configured if need be.
# REPORT: the HTML report written (default release-backtest.html).
# BACKTEST_OPTIONS: more options for the backtest (e.g. "--candidate-patch p.json").
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 REV [SITES...]" >&2
  exit 2
fi
rev=$1
shift
top=$(git rev-parse --show-toplevel)
build=${BUILD:-$top/build}
report=${REPORT:-release-backtest.html}
commit=$(git -C "$top" rev-parse --verify "$rev^{commit}")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/release-backtest.XXXXXX")
# shellcheck disable=SC2317  # called by the trap
cleanup() {
  git -C "$top" worktree remove --force "$scratch/src" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

launcher=
if command -v ccache >/dev/null 2>&1; then launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache; fi
generator=
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
jobs=${JOBS:-2}

# Only the plug-in of the release: its tests and simulator are not this run's.
git -C "$top" worktree add --quiet --detach "$scratch/src" "$commit"
# shellcheck disable=SC2086
cmake -S "$scratch/src" -B "$scratch/build" $generator $launcher \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAIKORVANE_BUILD_TESTS=OFF >"$scratch/configure.log" 2>&1 ||
  { cat "$scratch/configure.log" >&2; exit 1; }
cmake --build "$scratch/build" --parallel "$jobs" --target aikorvane >"$scratch/build.log" 2>&1 ||
  { tail -40 "$scratch/build.log" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  # shellcheck disable=SC2086
  cmake -S "$top" -B "$build" $generator $launcher -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --parallel "$jobs" --target aikorvane aikorvane-sim >/dev/null

if [ $# -eq 0 ]; then set -- "$top"/examples/fleet/*/; fi
status=0
# shellcheck disable=SC2086
"$build/aikorvane-sim" backtest --baseline-plugin "$scratch/build/aikorvane.so" \
  --candidate-plugin "$build/aikorvane.so" --html "$report" ${BACKTEST_OPTIONS:-} "$@" || status=$?
echo "baseline: $rev ($commit), candidate: the working tree; report: $report" >&2
exit $status
