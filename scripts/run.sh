#!/usr/bin/env bash
# The project's main job: builds the plug-in and the simulated host, then
# replays the bundled default scenario through the real aikorvane.so.
# Installs missing Debian packages first; safe to run again at any time.
# Usage: scripts/run.sh [aikorvane-sim arguments...]
#   with no arguments: the default scenario, its event log and plot written
#   into the build directory. Build directory: $AIKORVANE_BUILD_DIR or build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${AIKORVANE_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target aikorvane-sim --parallel "$(nproc)"
if [ $# -gt 0 ]; then
  exec "$build/aikorvane-sim" "$@"
fi
status=0
"$build/aikorvane-sim" --events "$build/default-events.jsonl" --plot "$build/default.svg" || status=$?
echo "event log: $build/default-events.jsonl  plot: $build/default.svg" >&2
exit "$status"
