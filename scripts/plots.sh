#!/usr/bin/env bash
# Replays a day (86,400 one-second rows), a month (259,200 ten-second rows)
# and 1,000,000 one-second rows of made-up field data (a discharge to 46 V
# with sensor noise, so that alarms flap) through the default scenario, and
# renders each plot to PNG with rsvg-convert (librsvg2-bin) to look at.
# Usage: scripts/plots.sh [build-dir] [out-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh python3 librsvg2-bin fonts-noto-cjk
build=${1:-build}
out=${2:-$build/plots}
mkdir -p "$out"
python3 - "$out" <<'PY'
import math, random, sys
random.seed(1)
for name, rows, step in (("day", 86400, 1), ("month", 259200, 10), ("million", 1000000, 1)):
    with open(f"{sys.argv[1]}/{name}.csv", "w") as f:
        f.write("time,value\n")
        for i in range(rows):
            volts = 53.5 - 7.3 * math.exp(-((i / rows - 0.5) / 0.08) ** 2) + random.gauss(0, 0.08)
            # 4 to 20 mA on the default scenario's 0 to 80 V input.
            f.write("%d,%.5f\n" % (1767571200 + i * step, 4 + 16 * volts / 80))
PY
for name in day month million; do
  "$build/aikorvane-sim" --csv "$out/$name.csv" --plot "$out/$name.svg" >"$out/$name.txt"
  rsvg-convert -o "$out/$name.png" "$out/$name.svg"
  echo "$name: $(stat -c %s "$out/$name.svg") bytes of SVG, $out/$name.png"
done
