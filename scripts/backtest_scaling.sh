#!/usr/bin/env bash
# How far `aikorvane-sim backtest --jobs 2` gets ahead of `--jobs 1`: writes
# SITES sites (the bundled north site's settings) of DAYS days of 1-second
# rows each, then runs the two alternately PAIRS times, printing each pair's
# wall and user times and their ratio, then the median ratio (target: 1.8 or
# more on 2 cores). A pair's two runs follow each other, so a machine whose
# speed drifts moves both alike; user time that grows with the second thread
# shows contention, wall time alone may only show a busy machine.
# Usage: scripts/backtest_scaling.sh [build-dir] [SITES] [DAYS] [PAIRS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh python3 time  # /usr/bin/time: wall and user time of each run
build=${1:-build-bench}
sites=${2:-6}
days=${3:-3}
pairs=${4:-3}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target aikorvane-sim aikorvane --parallel "$(nproc)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$sites" "$days" examples/fleet/north <<'PY'
import os, random, shutil, sys
work, sites, days, north = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
start = 1790812800  # 2026-10-01 00:00:00 UTC
for n in range(1, sites + 1):
    site = os.path.join(work, "s%d" % n)
    shutil.copytree(os.path.join(north, "ini"), os.path.join(site, "ini"))
    shutil.copy(os.path.join(north, "settings.json"), site)
    os.makedirs(os.path.join(site, "history"))
    rng = random.Random(n)
    with open(os.path.join(site, "history", "a.csv"), "w") as out:
        out.write("time,value\n")
        for second in range(days * 86400):
            # Float charge, and every few hours a dip below the low threshold.
            dip = 1.9 * max(0.0, 1 - abs(second % 14400 - 7200) / 900)
            out.write("%d,%.4f\n" % (start + second, 14.7 - dip + rng.uniform(-0.1, 0.1)))
PY
run() {
  /usr/bin/time -f "%e %U" "$build/aikorvane-sim" backtest --jobs "$1" --format json \
    --plugin "$build/aikorvane.so" --candidate-patch examples/fleet/candidate-patch.json \
    "$work"/s* 2>&1 >/dev/null | tail -1
}
ratios=()
for pair in $(seq "$pairs"); do
  read -r one_wall one_user <<<"$(run 1)"
  read -r two_wall two_user <<<"$(run 2)"
  ratio=$(awk -v a="$one_wall" -v b="$two_wall" 'BEGIN { printf "%.2f", a / b }')
  ratios+=("$ratio")
  echo "pair $pair: --jobs 1 ${one_wall} s (user ${one_user} s), --jobs 2 ${two_wall} s" \
    "(user ${two_user} s): ${ratio}"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')
echo "backtest --jobs 2 / --jobs 1: ${median} (median of ${pairs} pairs; $sites sites of $days days" \
  "of 1-second rows; target at least 1.8)"
