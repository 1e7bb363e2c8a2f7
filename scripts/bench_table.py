#!/usr/bin/env python3
"""Prints the benchmark results of aikorvane_bench (its JSON output) as tables.

Rounds: each "round/X" beside its floor "floor/X" (the same diagnostic lines
written with nothing else) and the ratio of the two, from the same run.
Settings reading: time per size, time per item, the exponent of growth between
the two largest sizes (1 is linear, 2 quadratic) and the library's fit.

Times are CPU times (the process's own user and system time), the median of the
repetitions when there are several.
Usage: scripts/bench_table.py results.json
"""

import json
import math
import re
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    with open(path, encoding="utf-8") as handle:
        data = json.load(handle)
    times = {}  # run name -> cpu time in ns
    fits = {}  # family -> (big_o, coefficient in ns, rms)
    for entry in data["benchmarks"]:
        if entry.get("error_occurred"):
            print(f"error in {entry['name']}: {entry.get('error_message')}", file=sys.stderr)
            continue
        kind = entry.get("aggregate_name")
        name = entry["run_name"]
        if kind == "BigO":
            fits.setdefault(name, {})["big_o"] = entry["big_o"]
            fits[name]["coefficient"] = entry["cpu_coefficient"] * UNIT_NS[entry["time_unit"]]
        elif kind == "RMS":
            fits.setdefault(name, {})["rms"] = entry["rms"]
        elif kind == "median" or (kind is None and entry.get("repetitions", 1) <= 1):
            times[name] = entry["cpu_time"] * UNIT_NS[entry["time_unit"]]
        elif kind is None and name not in times:
            # Repetitions without aggregates: keep the first until a median shows up.
            times[name] = entry["cpu_time"] * UNIT_NS[entry["time_unit"]]
    return data.get("context", {}), times, fits


def human(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} us"
    return f"{ns:.0f} ns"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    context, times, fits = load(sys.argv[1])
    print(f"\nRun on {context.get('num_cpus', '?')} CPUs, {context.get('date', '')}; "
          "CPU time, median of repetitions\n")

    print(f"{'round':<28}{'round time':>14}{'floor time':>14}{'ratio':>9}")
    print("-" * 65)
    for name, ns in times.items():
        if not name.startswith("round/"):
            continue
        floor = times.get("floor/" + name[len("round/"):])
        ratio = f"{ns / floor:.2f}" if floor else "-"
        print(f"{name[len('round/'):]:<28}{human(ns):>14}{human(floor) if floor else '-':>14}"
              f"{ratio:>9}")
    others = [name for name in times if not re.match(r"(round|floor|init_setting)/", name)]
    if others:
        print()
        print(f"{'on its own':<28}{'time':>14}")
        print("-" * 42)
        for name in others:
            print(f"{name:<28}{human(times[name]):>14}")

    sizes = {}
    for name, ns in times.items():
        match = re.match(r"(init_setting/.+)/(\d+)$", name)
        if match:
            sizes.setdefault(match.group(1), []).append((int(match.group(2)), ns))
    if sizes:
        print()
        print(f"{'settings reading':<32}{'n':>8}{'time':>14}{'per item':>12}")
        print("-" * 66)
        for family, points in sizes.items():
            points.sort()
            for n, ns in points:
                print(f"{family:<32}{n:>8}{human(ns):>14}{human(ns / n):>12}")
            if len(points) >= 2:
                (n1, t1), (n2, t2) = points[-2], points[-1]
                exponent = math.log(t2 / t1) / math.log(n2 / n1)
                fit = fits.get(family, {})
                fitted = (f"fit {human(fit['coefficient'])} x {fit['big_o']}, rms "
                          f"{100 * fit.get('rms', 0):.0f}%" if "big_o" in fit else "no fit")
                print(f"{'':<32}growth exponent {n1}->{n2}: {exponent:.2f}; {fitted}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
