#!/usr/bin/python3
"""read_events against pandas' own readers, and the division pass of
filtermodule.dask.read_events, on the sample repeated.

    PYTHONPATH=build/python/python /usr/bin/python3 python/bench/bench_read.py \
        [--copies 50] [--repeat 3]

Writes examples/events.csv repeated --copies times (50: 1 M rows) as one
CSV file and as one JSON Lines file in a temporary folder, then times, best
of --repeat: filtermodule.read_events, pandas' reader of the same file
(read_csv with every cell a text, read_json with lines=True), the mask of
the failed-admin-logons filter on each frame, and the pass that divides
the file for Dask (64 MB pieces). The mask's counts must be equal.
"""

import argparse
import json
import os
import sys
import tempfile

import pandas as pd

import filtermodule as fm
from filtermodule import _core

from bench_mask import best  # the best of several runs, and its result

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WHERE = "EventID = 4625 AND User LIKE 'adm%'"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--copies", type=int, default=50)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    sample = os.path.join(ROOT, "examples", "events.csv")
    with open(sample, encoding="utf-8") as f:
        header, *rows = f.read().splitlines(keepends=True)
    records = pd.read_csv(sample, dtype=str, keep_default_na=False).to_dict("records")
    f = fm.Filter(where=WHERE)
    with tempfile.TemporaryDirectory() as tmp:
        csv = os.path.join(tmp, "events.csv")
        with open(csv, "w", encoding="utf-8") as out:
            out.write(header)
            for _ in range(args.copies):
                out.writelines(rows)
        jsonl = os.path.join(tmp, "events.jsonl")
        with open(jsonl, "w", encoding="utf-8") as out:
            lines = "".join(json.dumps(r) + "\n" for r in records)
            for _ in range(args.copies):
                out.write(lines)
        n = len(rows) * args.copies
        print("%d rows; CSV %.0f MB, JSON Lines %.0f MB" % (
            n, os.path.getsize(csv) / 1e6, os.path.getsize(jsonl) / 1e6))
        counts = set()
        for name, path, theirs in [
                ("CSV", csv, lambda: pd.read_csv(csv, dtype=str,
                                                 keep_default_na=False)),
                ("JSON Lines", jsonl, lambda: pd.read_json(jsonl, lines=True,
                                                           dtype=False))]:
            ours_s, ours = best(lambda: fm.read_events(path), args.repeat)
            theirs_s, frame = best(theirs, args.repeat)
            mask_ours, got = best(lambda: int(f.mask(ours).sum()), args.repeat)
            mask_theirs, got2 = best(lambda: int(f.mask(frame).sum()), args.repeat)
            divide_s, plan = best(lambda: _core.divide_input(path, "", 64 << 20),
                                  args.repeat)
            counts.update([got, got2])
            print("%-10s read_events %.2f s (%.2f M rows/s); pandas %.2f s; "
                  "mask %.3f s on ours, %.3f s on pandas'; division for Dask "
                  "%.2f s (%d pieces)" % (name, ours_s, n / ours_s / 1e6, theirs_s,
                                          mask_ours, mask_theirs, divide_s,
                                          len(plan["pieces"])))
        if len(counts) != 1:
            print("counts differ: %s" % sorted(counts))
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
