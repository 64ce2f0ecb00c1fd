#!/usr/bin/python3
"""read_events + filter_frame on a local Dask cluster of 1 and of 2 workers.

    PYTHONPATH=build/python/python /usr/bin/python3 python/bench/bench_dask.py \
        [--copies 50] [--files 20] [--repeat 2]

Writes examples/events.csv repeated --copies times (50: 1 M rows) as
--files CSV files in a temporary folder, then on LocalCluster(n_workers=N,
threads_per_worker=1, processes=True) for N = 1, 2 counts the rows of the
failed-admin-logons filter twice: reading included (the work a cluster
spreads in practice), and on the frame already read and held by the
workers (persist: the filter alone). Prints the best of --repeat runs and
rows/s; the counts must be equal.
"""

import argparse
import os
import sys
import tempfile
import time

import distributed
import pandas as pd

import filtermodule as fm
import filtermodule.dask as fmd

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--copies", type=int, default=50)
    parser.add_argument("--files", type=int, default=20)
    parser.add_argument("--repeat", type=int, default=2)
    args = parser.parse_args()
    f = fm.Filter.from_file(os.path.join(ROOT, "examples", "filters",
                                         "failed-admin-logons.json"))
    text = pd.read_csv(os.path.join(ROOT, "examples", "events.csv"), dtype=str,
                       keep_default_na=False)
    df = pd.concat([text] * args.copies, ignore_index=True)
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for i in range(args.files):
            path = os.path.join(folder, "part%02d.csv" % i)
            df.iloc[i::args.files].to_csv(path, index=False)
            paths.append(path)
        counts = {}
        for workers in (1, 2):
            with distributed.LocalCluster(n_workers=workers, threads_per_worker=1,
                                          processes=True,
                                          dashboard_address=None) as cluster, \
                    distributed.Client(cluster):
                times = []
                for _ in range(args.repeat):
                    start = time.perf_counter()
                    counts[workers] = len(fmd.filter_frame(fmd.read_events(paths),
                                                           filter=f))
                    times.append(time.perf_counter() - start)
                best = min(times)
                counts.setdefault("time", {})[workers] = best
                print("%d worker(s), read + filter: %d rows matched of %d, %.2f s, "
                      "%.0f rows/s" % (workers, counts[workers], len(df), best,
                                       len(df) / best))
                held = fmd.read_events(paths).persist()
                distributed.wait(held)
                times = []
                for _ in range(args.repeat):
                    start = time.perf_counter()
                    n = len(fmd.filter_frame(held, filter=f))
                    times.append(time.perf_counter() - start)
                    if n != counts[workers]:
                        print("count differs on the held frame: %d" % n)
                        return 1
                best = min(times)
                counts.setdefault("held", {})[workers] = best
                print("%d worker(s), filter on the held frame: %.2f s, %.0f rows/s" % (
                    workers, best, len(df) / best))
        print("speed-up with 2 workers: read + filter %.2fx, filter alone %.2fx" % (
            counts["time"][1] / counts["time"][2],
            counts["held"][1] / counts["held"][2]))
        return 0 if counts[1] == counts[2] else 1


if __name__ == "__main__":
    sys.exit(main())
