#!/usr/bin/env python3
"""Writes the recorded history of the bundled fleet (examples/fleet/): three days of one reading a
minute per site, the 4-20 mA readings of a 0-80 V transducer (volts = (mA - 4)
x 5). Deterministic, so the files can be made again and compared."""
import math
import os
import random
from datetime import datetime, timedelta

START = datetime(2026, 11, 2)
DAYS = 3
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "fleet")


def float_charge(minute, rng):
    return 53.5 + rng.uniform(-0.05, 0.05)


def discharge(minute, start, depth, fall, hold, rise, rng):
    """A mains failure at `start` (minutes): down to `depth` volts over
    `fall` minutes, held for `hold`, recharged over `rise`."""
    t = minute - start
    if t < 0 or t > fall + hold + rise:
        return None
    if t <= fall:
        return 53.5 - (53.5 - depth) * t / fall
    if t <= fall + hold:
        return depth + rng.uniform(-0.02, 0.02)
    return depth + (53.5 - depth) * (t - fall - hold) / rise


def site_north(minute, rng):
    # A deep discharge on the second day: a 3-hour mains failure.
    v = discharge(minute, 1440 + 600, 46.3, 150, 30, 90, rng)
    return v if v is not None else float_charge(minute, rng)


def site_east(minute, rng):
    # Two shallow discharges, down to 47.8 V.
    for start in (800, 2900):
        v = discharge(minute, start, 47.8, 60, 20, 40, rng)
        if v is not None:
            return v
    return float_charge(minute, rng)


def site_west(minute, rng):
    # An ageing string held near 47 V on the third day: the low alarm flaps.
    if 2880 + 300 <= minute < 2880 + 420:
        return 47.0 + 0.15 * math.sin(minute / 3.0) + rng.uniform(-0.1, 0.1)
    return float_charge(minute, rng)


SITES = {"north": site_north, "east": site_east, "west": site_west}


def main():
    for name, voltage in SITES.items():
        rng = random.Random(name)
        folder = os.path.join(HERE, name, "history")
        os.makedirs(folder, exist_ok=True)
        for day in range(DAYS):
            date = START + timedelta(days=day)
            with open(os.path.join(folder, date.strftime("%Y-%m-%d.csv")), "w") as out:
                out.write("time,value\n")
                for m in range(1440):
                    minute = day * 1440 + m
                    volts = voltage(minute, rng)
                    stamp = (date + timedelta(minutes=m)).strftime("%Y-%m-%dT%H:%M:%S")
                    out.write(f"{stamp},{volts / 5 + 4:.4f}\n")


if __name__ == "__main__":
    main()
