#!/usr/bin/python3
"""Plots rows per second against filter size for IsMatch, the hand-written
predicate (the limit) and SQLite, from ismatch_bench's JSON output.

    bench/plot.py build/ismatch.json docs/filter-size.png
"""
import json
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

data = json.load(open(sys.argv[1]))
series = {"BM_FilterSize": "IsMatch", "BM_FilterSize_Predicate": "the limit",
          "BM_FilterSize_Sqlite": "SQLite"}
points = {label: [] for label in series.values()}
for b in data["benchmarks"]:
    name, _, size = b["name"].partition("/")
    size = size.split("/")[0]
    if name in series and size:
        points[series[name]].append((int(size), b["items_per_second"]))
plt.figure(figsize=(7, 4.5))
for label, values in points.items():
    values.sort()
    plt.plot([v[0] for v in values], [v[1] / 1e6 for v in values], marker="o", label=label)
plt.xscale("log", base=2)
plt.yscale("log")
plt.xlabel("filter size (lines)")
plt.ylabel("million rows per second")
plt.title("Rows per second against filter size")
plt.grid(True, which="both", alpha=0.3)
plt.legend()
plt.tight_layout()
plt.savefig(sys.argv[2], dpi=110)
