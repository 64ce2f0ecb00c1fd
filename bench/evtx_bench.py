#!/usr/bin/env python3
"""EVTX reading speed: evfilter against libevtx's own export, side by side.

Measured in one run, the commands' repetitions interleaved (A B C, A B C,
...), median wall time of each:
  1. a large file made by the test writer (Sysmon process creations):
     `evfilter match --count` with -j 1 and -j 2, and `evtxexport -f xml >
     /dev/null` (Debian's libevtx-utils);
  2. the shared samples (../shared/evtx-samples), all of them given
     REPEAT times to one command, the same for both tools;
  3. evfilter's peak memory (max RSS) on files of 1x, 2x and 4x the size.
Records per second count the records evfilter read (evtxexport exports
the same ones; bench/evtx_agreement.py checks that).

Usage: bench/evtx_bench.py [--records N] [--runs R] [--repeat K]
Builds the release preset's evfilter and make_evtx first.
"""

import argparse
import glob
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "release")
EVFILTER = os.path.join(BUILD, "evfilter", "evfilter")
MAKE_EVTX = os.path.join(BUILD, "tests", "make_evtx")
WHERE = "Image LIKE '*powershell.exe' AND ParentImage LIKE '*services.exe'"


def run(command, stdout=subprocess.DEVNULL):
    """Wall seconds and max RSS (KiB) of one command."""
    start = time.perf_counter()
    with subprocess.Popen(command, stdout=stdout, stderr=subprocess.DEVNULL) as p:
        _, status, usage = os.wait4(p.pid, 0)
        p.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.perf_counter() - start
    if p.returncode not in (0, 1):
        sys.exit("failed (%d): %s" % (p.returncode, " ".join(command)))
    return seconds, usage.ru_maxrss


def interleaved(commands, runs):
    """Median seconds of each named command, runs interleaved."""
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            times[name].append(run(command)[0])
    return {name: statistics.median(t) for name, t in times.items()}


def count(files):
    out = subprocess.run([EVFILTER, "match", "--count", "--where",
                          "EventRecordID > 0", *files], capture_output=True,
                         check=False, text=True).stdout
    return int(out.split()[0])


def table(title, records, medians, peer):
    print("\n%s: %d records" % (title, records))
    print("| command | median s | records/s | vs evtxexport |")
    print("|---|---:|---:|---:|")
    for name, seconds in medians.items():
        print("| %s | %.3f | %.0f | %.2fx |" % (
            name, seconds, records / seconds, medians[peer] / seconds))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=250000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--repeat", type=int, default=20)
    args = parser.parse_args()
    subprocess.run(["cmake", "--preset", "release"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "release", "--target",
                    "evfilter", "make_evtx"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    big = os.path.join(BUILD, "bench-sysmon-%d.evtx" % args.records)
    if not os.path.exists(big):
        subprocess.run([MAKE_EVTX, big, str(args.records), "sysmon"], check=True)
    size = os.path.getsize(big)
    print("machine: %d cores; %s: %.0f MB" % (os.cpu_count(), os.path.basename(big),
                                             size / 1e6))
    match = [EVFILTER, "match", "--count", "--where", WHERE]
    commands = {
        "evfilter match --count -j 1": match + ["-j", "1", big],
        "evfilter match --count -j 2": match + ["-j", "2", big],
        "evtxexport -f xml > /dev/null": ["evtxexport", "-f", "xml", big],
    }
    table("writer-made Sysmon log, %.0f MB" % (size / 1e6), count([big]),
          interleaved(commands, args.runs), "evtxexport -f xml > /dev/null")

    samples = sorted(glob.glob(os.path.join(ROOT, "..", "shared", "evtx-samples",
                                            "*.evtx")))
    if samples:
        files = samples * args.repeat
        script = "for f in %s; do evtxexport -f xml \"$f\"; done" % " ".join(
            "'%s'" % f for f in files)
        commands = {
            "evfilter match --count -j 1": match + ["-j", "1", *files],
            "evtxexport -f xml > /dev/null": ["sh", "-c", script],
        }
        table("the %d shared samples, %d times" % (len(samples), args.repeat),
              count(files), interleaved(commands, args.runs),
              "evtxexport -f xml > /dev/null")

    print("\npeak memory of evfilter match -j 2 (max RSS)")
    print("| file | MB | max RSS MiB |")
    print("|---|---:|---:|")
    for factor in (1, 2, 4):
        n = args.records * factor // 4
        path = os.path.join(BUILD, "bench-sysmon-%d.evtx" % n)
        if not os.path.exists(path):
            subprocess.run([MAKE_EVTX, path, str(n), "sysmon"], check=True)
        _, rss = run(match + ["-j", "2", path])
        print("| %d records | %.0f | %.1f |" % (n, os.path.getsize(path) / 1e6,
                                                 rss / 1024))
    return 0


if __name__ == "__main__":
    sys.exit(main())
