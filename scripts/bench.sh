#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them: each round's time beside its
# floor (its own diagnostic lines written with nothing else) and the ratio of
# the two, then how settings reading grows with its size.
# Usage: scripts/bench.sh [build-dir] [extra benchmark arguments, e.g. --benchmark_filter=round]
# The raw results stay in <build-dir>/bench-results.json.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh python3
build=${1:-build-bench}
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DAIKORVANE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target aikorvane_bench --parallel "$(nproc)"
results="$(cd "$build" && pwd)/bench-results.json"
"$build/bench/aikorvane_bench" --benchmark_repetitions=3 --benchmark_display_aggregates_only=true \
  --benchmark_out="$results" --benchmark_out_format=json "$@"
python3 scripts/bench_table.py "$results"
