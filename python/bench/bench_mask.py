#!/usr/bin/python3
"""Filter.mask against the same query written as a pandas expression.

    PYTHONPATH=build/python/python /usr/bin/python3 python/bench/bench_mask.py \
        [--copies 50] [--repeat 3]

The frame is examples/events.csv repeated --copies times (50: 1 M rows), as
pandas reads it by default (int64 numbers, texts as objects, NaN for empty
cells). For each filter of examples/filters/ the pandas expression below
asks the same question (texts compared ignoring case, as the module does);
the two counts must be equal, and each side's best time of --repeat runs is
printed, with rows/s and the ratio.
"""

import argparse
import datetime
import glob
import os
import sys
import time

import numpy as np
import pandas as pd

import filtermodule as fm

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def lower(s):
    return s.fillna("").str.lower()


def this_month(df):
    # Received is yyyy-mm-dd text in the sample: its month is a prefix.
    return df.Received.fillna("").str.startswith(datetime.date.today().strftime("%Y-%m"))


EXPRESSIONS = {
    "failed-admin-logons": lambda df: (df.EventID == 4625)
    & lower(df.User).str.startswith("adm"),
    "failed-admin-logons-this-month": lambda df: (df.EventID == 4625)
    & lower(df.User).str.startswith("adm") & this_month(df),
    # Times are zero-padded hh:mm:ss text in the sample: they order as text.
    "night-logons": lambda df: (df.EventID == 4624)
    & ((df.Time.fillna("") < "06:00:00") | (df.Time.fillna("") > "22:00:00")),
    "risky-services": lambda df: (df.EventID == 7045)
    & (lower(df.EXT_TAGS.str.extract(r"(?i)@severity@(.*?)~severity~")[0]) == "high"),
    # LIKE: "_" is any one character.
    "shells-not-by-services": lambda df: (df.EventID == 4688)
    & (lower(df.Process).str.endswith("\\powershell.exe")
       | lower(df.Process).str.endswith("\\cmd.exe"))
    & ~lower(df.User).str.match(r"svc."),
}


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return min(times), result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--copies", type=int, default=50)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    sample = pd.read_csv(os.path.join(ROOT, "examples", "events.csv"))
    df = pd.concat([sample] * args.copies, ignore_index=True)
    rows = len(df)
    print("%d rows; dtypes: %s" % (rows, ", ".join(
        "%s %s" % (c, t) for c, t in df.dtypes.items())))
    print("%-32s %9s %9s %12s %12s %7s" % (
        "filter", "count", "", "mask rows/s", "pandas rows/s", "ratio"))
    failed = False
    for path in sorted(glob.glob(os.path.join(ROOT, "examples", "filters", "*.json"))):
        name = os.path.basename(path)[:-5]
        f = fm.Filter.from_file(path)
        mask_time, mask = best(lambda: f.mask(df), args.repeat)
        pandas_time, expected = best(lambda: EXPRESSIONS[name](df).to_numpy(),
                                     args.repeat)
        same = int(mask.sum()) == int(expected.sum()) and \
            np.array_equal(mask, expected.astype(bool))
        failed = failed or not same
        print("%-32s %9d %9s %12.0f %12.0f %6.2fx   (%.3f s vs %.3f s)" % (
            name, int(mask.sum()), "same" if same else "DIFFERENT(%d)" % int(
                expected.sum()), rows / mask_time, rows / pandas_time,
            pandas_time / mask_time, mask_time, pandas_time))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
