#!/usr/bin/env bash
# Soak run: one device per operating mode (1, 2, 3, 5) for a million rounds
# each (stdout to /dev/null), printing the resident memory at the start, after
# the warm-up and at the end. Fails when a mode grows after its warm-up.
# Usage: scripts/soak.sh [rounds-per-mode (1000000)] [build-dir (build-soak)]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-1000000}
build=${2:-build-soak}
bash scripts/deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAIKORVANE_BUILD_BENCH=ON \
  >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target aikorvane_soak
"$build/bench/aikorvane_soak" "$rounds" >/dev/null
