#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them: each round's time beside its
# floor (its own diagnostic lines written with nothing else), its host floor
# (those lines plus the same framework calls) and its read floor (the host floor
# plus one look-up by name in the published values of each entry the round's
# mode reads), their ratios and the heap allocations per round, then how
# settings reading grows with its size, then a
# host driving 64 devices from one and from two threads (AIKORVANE_FLEET_SECONDS
# virtual seconds per run, 300 by default; 0 skips it), the one- and two-thread
# runs alternating three times, then the backtest on one thread and on two
# (scripts/backtest_scaling.sh; AIKORVANE_BACKTEST_PAIRS pairs, 3 by default; 0
# skips it).
# Usage: scripts/bench.sh [build-dir] [extra benchmark arguments, e.g. --benchmark_filter=round]
# The raw results stay in <build-dir>/bench-results.json.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh python3
build=${1:-build-bench}
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DAIKORVANE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target aikorvane_bench aikorvane_fleet --parallel "$(nproc)"
echo "load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
results="$(cd "$build" && pwd)/bench-results.json"
"$build/bench/aikorvane_bench" --benchmark_repetitions=3 --benchmark_display_aggregates_only=true \
  --benchmark_out="$results" --benchmark_out_format=json "$@"
python3 scripts/bench_table.py "$results"
# The simulator's CSV replay (no event log, no plot) per row over the device's
# mode-2 round, both measured in the one benchmark replay/csv_mode2; then the
# same rows as a site test (test/csv_mode2) per row over the replay's.
python3 - "$results" <<'EOF'
import json, sys
means = {}
for run in json.load(open(sys.argv[1]))["benchmarks"]:
    if run.get("aggregate_name", "mean") == "mean":
        means.setdefault(run.get("run_name", run["name"]), run)
replay = next((r for n, r in means.items() if n.startswith("replay/csv_mode2")), None)
test = next((r for n, r in means.items() if n.startswith("test/csv_mode2")), None)
if replay:
    print("CSV replay per row / round/mode2: %.2f (%.0f ns per row, %.0f ns per round; "
          "target at most 4)" % (replay["ratio"], replay["row_ns"], replay["round_ns"]))
if replay and test:
    print("CSV test per row / CSV replay per row: %.2f (%.0f ns against %.0f ns; "
          "target at most 1.5)" % (test["row_ns"] / replay["row_ns"], test["row_ns"],
                                   replay["row_ns"]))
EOF
fleet_seconds=${AIKORVANE_FLEET_SECONDS:-300}
if [ "$fleet_seconds" -gt 0 ]; then
  echo
  "$build/bench/aikorvane_fleet" "$fleet_seconds" >/dev/null
fi
backtest_pairs=${AIKORVANE_BACKTEST_PAIRS:-3}
if [ "$backtest_pairs" -gt 0 ]; then
  echo
  bash scripts/backtest_scaling.sh "$build" 6 3 "$backtest_pairs"
fi
echo "load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
