#!/usr/bin/python3
"""filtermodule.hunt and filtermodule.dask.hunt against evfilter hunt, side
by side in one run, on the kind of mix analysts hold.

    PYTHONPATH=build/default/python /usr/bin/python3 python/bench/bench_hunt.py \
        --rules ../shared/sigma-sample --samples ../shared/evtx-samples \
        [--copies 20] [--big 150000] [--repeat 3]

Copies every .evtx of --samples --copies times and writes two large logs
with tests/make_evtx (--big records each, one Sysmon, one Security) into a
temporary folder. Then, --repeat times in turn: `evfilter hunt -j 1`
(its CPU time, user + system, from wait4), filtermodule.hunt in this
process (its CPU time), `evfilter hunt -j 2` (wall clock) and
filtermodule.dask.hunt on a LocalCluster of 2 single-threaded worker
processes started beforehand (wall clock of compute()). Prints medians and
the ratios; the detections must be the same in all four.
"""

import argparse
import glob
import json
import os
import resource
import shutil
import statistics
import subprocess
import tempfile
import time
import warnings

import filtermodule as fm

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def evfilter_hunt(evfilter, rules, paths, jobs):
    """(cpu seconds, wall seconds, detections) of one evfilter run."""
    start = time.monotonic()
    proc = subprocess.Popen([evfilter, "hunt", "-j", str(jobs), "--rules",
                             rules] + paths, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) not in (0, 1):
        raise SystemExit("evfilter hunt failed")
    found = [(d["rule_id"], d["input"], d["record_id"])
             for d in map(json.loads, out.splitlines())]
    return usage.ru_utime + usage.ru_stime, wall, found


def python_hunt(rules, paths):
    before = resource.getrusage(resource.RUSAGE_SELF)
    start = time.monotonic()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        df = fm.hunt(paths, rules=rules)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_SELF)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, wall, list(zip(df["rule_id"], df["input"], df["record_id"]))


def dask_hunt(client, rules, paths):
    import filtermodule.dask as fmd

    start = time.monotonic()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        df = fmd.hunt(paths, rules=rules).compute()
    wall = time.monotonic() - start
    return wall, list(zip(df["rule_id"], df["input"], df["record_id"]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rules", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--copies", type=int, default=20)
    parser.add_argument("--big", type=int, default=150000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "default"))
    args = parser.parse_args()
    evfilter = os.path.join(args.build, "evfilter", "evfilter")
    make_evtx = os.path.join(args.build, "tests", "make_evtx")
    rules = os.path.abspath(args.rules)
    with tempfile.TemporaryDirectory() as folder:
        for i in range(args.copies):
            for sample in sorted(glob.glob(os.path.join(args.samples, "*.evtx"))):
                shutil.copy(sample, os.path.join(
                    folder, "s%02d_%s" % (i, os.path.basename(sample))))
        for name, kind in (("big1.evtx", "sysmon"), ("big2.evtx", "security")):
            subprocess.run([make_evtx, os.path.join(folder, name),
                            str(args.big), kind], check=True)
        paths = sorted(glob.glob(os.path.join(folder, "*.evtx")))
        size = sum(os.path.getsize(p) for p in paths)
        print("%d files, %.0f MB" % (len(paths), size / 1e6))

        from distributed import Client, LocalCluster
        cluster = LocalCluster(n_workers=2, threads_per_worker=1,
                               processes=True, dashboard_address=None)
        client = Client(cluster)
        times = {"evfilter -j 1 cpu": [], "hunt cpu": [],
                 "evfilter -j 2 wall": [], "dask 2 workers wall": []}
        expected = None
        try:
            for _ in range(args.repeat):
                cpu, _, found1 = evfilter_hunt(evfilter, rules, paths, 1)
                times["evfilter -j 1 cpu"].append(cpu)
                cpu, _, found2 = python_hunt(rules, paths)
                times["hunt cpu"].append(cpu)
                _, wall, found3 = evfilter_hunt(evfilter, rules, paths, 2)
                times["evfilter -j 2 wall"].append(wall)
                wall, found4 = dask_hunt(client, rules, paths)
                times["dask 2 workers wall"].append(wall)
                expected = expected or found1
                for found in (found1, found2, found3, found4):
                    if found != expected:
                        raise SystemExit("the detections differ")
        finally:
            client.close()
            cluster.close()
        med = {k: statistics.median(v) for k, v in times.items()}
        for k, v in times.items():
            print("%-22s median %.2f s (%s)" % (
                k, med[k], ", ".join("%.2f" % t for t in v)))
        print("%d detections" % len(expected))
        print("hunt / evfilter -j 1 (cpu): %.2f" %
              (med["hunt cpu"] / med["evfilter -j 1 cpu"]))
        print("dask / evfilter -j 2 (wall): %.2f" %
              (med["dask 2 workers wall"] / med["evfilter -j 2 wall"]))


if __name__ == "__main__":
    main()
