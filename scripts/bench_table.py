#!/usr/bin/env python3
"""Prints the benchmark results of aikorvane_bench (its JSON output) as tables.

Rounds: each "round/X" beside its three floors, "floor/X" (the same diagnostic
lines written with nothing else), "hostfloor/X" (those lines plus the same
framework calls with the same arguments) and "readfloor/X" (the host floor plus
one look-up by name in the published values of every entry the round's mode
reads), the ratios round/hostfloor (the goal is 1.5 or less) and
round/readfloor, and the heap allocations per round, all from the same run.
"paired" and "paired/read" are the same two ratios from "paired/X", which times
rounds, host floors and read floors in alternating batches: on a machine whose
speed drifts they hold steadier than the ratio of two benchmarks run seconds
apart.
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
    allocs = {}  # run name -> heap allocations per iteration
    paired = {}  # case -> ratio of round to host floor timed in alternation
    paired_read = {}  # case -> ratio of round to read floor timed in alternation
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
            if "allocs" in entry:
                allocs[name] = entry["allocs"]
            if name.startswith("paired/") and "ratio" in entry:
                paired[name[len("paired/"):]] = entry["ratio"]
            if name.startswith("paired/") and "read_ratio" in entry:
                paired_read[name[len("paired/"):]] = entry["read_ratio"]
        elif kind is None and name not in times:
            # Repetitions without aggregates: keep the first until a median shows up.
            times[name] = entry["cpu_time"] * UNIT_NS[entry["time_unit"]]
    return data.get("context", {}), times, allocs, fits, paired, paired_read


def human(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.2f} us"
    return f"{ns:.0f} ns"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    context, times, allocs, fits, paired, paired_read = load(sys.argv[1])
    print(f"\nRun on {context.get('num_cpus', '?')} CPUs, {context.get('date', '')}; "
          "CPU time, median of repetitions\n")

    print(f"{'round':<18}{'round':>11}{'floor':>11}{'hostfloor':>11}{'readfloor':>11}"
          f"{'round/host':>12}{'paired':>8}{'round/read':>12}{'paired/read':>13}"
          f"{'round/floor':>13}{'allocs':>9}{'host allocs':>13}")
    print("-" * 142)
    for name, ns in times.items():
        if not name.startswith("round/"):
            continue
        case = name[len("round/"):]
        floor = times.get("floor/" + case)
        host = times.get("hostfloor/" + case)
        read = times.get("readfloor/" + case)
        column = lambda value: human(value) if value else "-"
        ratio = lambda base: f"{ns / base:.2f}" if base else "-"
        count = lambda key: f"{allocs[key]:.1f}" if key in allocs else "-"
        pair = lambda ratios: f"{ratios[case]:.2f}" if case in ratios else "-"
        print(f"{case:<18}{human(ns):>11}{column(floor):>11}{column(host):>11}"
              f"{column(read):>11}{ratio(host):>12}{pair(paired):>8}{ratio(read):>12}"
              f"{pair(paired_read):>13}{ratio(floor):>13}{count(name):>9}"
              f"{count('hostfloor/' + case):>13}")
    others = [name for name in times
              if not re.match(r"(round|floor|hostfloor|readfloor|paired|init_setting)/", name)]
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
