# SPDX-License-Identifier: MIT
# What compare.sh and service_compare.sh read from Google Benchmark's JSON:
# runs named figure/pair/side (side "korvel" or "raw"), and the median of
# the pairs' ratios with the spread of their middle half.
import json
import sys


def load_runs(paths):
    runs = {}  # figure -> pair -> {side: run}
    for path in paths:
        try:
            with open(path) as f:
                data = json.load(f)
        except (OSError, ValueError):
            continue
        for b in data.get("benchmarks", []):
            parts = b["name"].split("/")
            if len(parts) < 3:
                continue
            if b.get("error_occurred"):
                print(f"{b['name']}: {b.get('error_message', 'error')}", file=sys.stderr)
                continue
            runs.setdefault(parts[0], {}).setdefault(parts[1], {})[parts[2]] = b
    return runs


scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}


def us(b):
    return b["real_time"] * scale[b["time_unit"]]


def middle(values):
    values = sorted(values)
    n = len(values)
    if n == 0:
        return None
    median = values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2
    cut = (n - 1) // 4
    return median, values[cut], values[n - 1 - cut]


def paired(runs, figure, ratio):
    return [ratio(s["korvel"], s["raw"]) for s in runs.get(figure, {}).values() if "korvel" in s and "raw" in s]


def side(runs, figure, who, value):
    return [value(s[who]) for s in runs.get(figure, {}).values() if who in s]
