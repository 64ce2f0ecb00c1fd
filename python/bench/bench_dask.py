#!/usr/bin/python3
"""read_events + filter_frame on a local Dask cluster of 1 and of 2 workers.

    PYTHONPATH=build/python/python /usr/bin/python3 python/bench/bench_dask.py \
        [--copies 50] [--files 20] [--repeat 2] [--rounds 1] [--dask-malloc]

Writes examples/events.csv repeated --copies times (50: 1 M rows) as
--files CSV files in a temporary folder, then on LocalCluster(n_workers=N,
threads_per_worker=1, processes=True) for N = 1, 2 counts the rows of the
failed-admin-logons filter twice: reading included (the work a cluster
spreads in practice), and on the frame already read and held by the
workers (persist: the filter alone). Prints the best and the median of
--repeat runs and rows/s; the counts must be equal. A worker's speed here
varies from one cluster to the next (which core it lands on, beside what
other work), so --rounds repeats the whole comparison on new clusters and
prints each round's speed-up and their median.

The workers get the allocator thresholds of WORKER_MALLOC (see
docs/SCALING.md): Dask starts its workers with MALLOC_TRIM_THRESHOLD_=65536,
which hands freed memory back to the kernel at once, and on this machine
the page faults of taking it again made reading CSV about four times
slower. --dask-malloc keeps Dask's setting.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time

import dask
import distributed
import pandas as pd

import filtermodule as fm
import filtermodule.dask as fmd

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# glibc keeps up to 64 MiB free at the top of the heap, and serves blocks
# below 32 MiB from the heap rather than from mappings of their own.
WORKER_MALLOC = {"MALLOC_TRIM_THRESHOLD_": 64 << 20,
                 "MALLOC_MMAP_THRESHOLD_": 32 << 20}


def summary(times):
    return "best %.2f s, median %.2f s" % (min(times), statistics.median(times))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--copies", type=int, default=50)
    parser.add_argument("--files", type=int, default=20)
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=1,
                        help="compare 1 and 2 workers this many times, each "
                             "on new clusters")
    parser.add_argument("--dask-malloc", action="store_true",
                        help="keep Dask's allocator settings for the workers")
    args = parser.parse_args()
    if not args.dask_malloc:
        dask.config.set({"distributed.nanny.pre-spawn-environ.%s" % k: v
                         for k, v in WORKER_MALLOC.items()})
    print("worker allocator: %s" % dask.config.get(
        "distributed.nanny.pre-spawn-environ"))
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
        ratios, matched = [], set()
        for round_ in range(args.rounds):
            print("round %d of %d" % (round_ + 1, args.rounds))
            counts = {}
            for workers in (1, 2):
                failed = measure(workers, paths, f, len(df), args.repeat, counts)
                if failed:
                    return failed
            matched.update((counts[1], counts[2]))
            ratios.append(counts["time"][1] / counts["time"][2])
            print("speed-up with 2 workers: read + filter %.2fx (best), "
                  "filter alone %.2fx (median)" % (
                      ratios[-1], counts["held"][1] / counts["held"][2]))
        if args.rounds > 1:
            print("read + filter speed-up over %d rounds: %s; median %.2fx" % (
                args.rounds, ", ".join("%.2fx" % r for r in ratios),
                statistics.median(ratios)))
        return 0 if len(matched) == 1 else 1


def measure(workers, paths, f, rows, repeat, counts):
    """Times read + filter and the filter on a held frame on a new cluster
    of `workers` processes; fills `counts`. Non-zero when counts differ."""
    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1,
                                  processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster):
        times = []
        for _ in range(repeat):
            start = time.perf_counter()
            counts[workers] = len(fmd.filter_frame(fmd.read_events(paths),
                                                   filter=f))
            times.append(time.perf_counter() - start)
        best = min(times)
        counts.setdefault("time", {})[workers] = best
        print("%d worker(s), read + filter: %d rows matched of %d, %s, "
              "%.0f rows/s" % (workers, counts[workers], rows, summary(times),
                               rows / best))
        held = fmd.read_events(paths).persist()
        distributed.wait(held)
        times = []
        for _ in range(repeat):
            start = time.perf_counter()
            n = len(fmd.filter_frame(held, filter=f))
            times.append(time.perf_counter() - start)
            if n != counts[workers]:
                print("count differs on the held frame: %d" % n)
                return 1
        median = statistics.median(times)
        counts.setdefault("held", {})[workers] = median
        print("%d worker(s), filter on the held frame: %s, %.0f rows/s "
              "(median)" % (workers, summary(times), rows / median))
    return 0

if __name__ == "__main__":
    sys.exit(main())
