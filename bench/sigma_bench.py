#!/usr/bin/python3
"""Sigma hunting speed: `evfilter hunt` against `evfilter match --count`
over the same file, side by side, and how the cost grows with rules.

Measured in one run, the commands' repetitions interleaved, median wall
time of each, on a large Sysmon log made by the test writer:
  - `evfilter match --count --where "EventID = 1"` (reading and one filter);
  - `evfilter hunt` with every rule of a rule folder (by default the shared
    sample, ../shared/sigma-sample), and with that set made 2, 5 and 10
    times larger by renamed copies (new ids and titles).
Events per second count the events read. With --plot, the rules against
events per second go to a PNG.

Usage: bench/sigma_bench.py [--records N] [--runs R] [--rules DIR]
                            [--plot docs/sigma-rules.png]
Builds the release preset's evfilter and make_evtx first.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
BUILD = os.path.join(ROOT, "build", "release")
EVFILTER = os.path.join(BUILD, "evfilter", "evfilter")
MAKE_EVTX = os.path.join(BUILD, "tests", "make_evtx")


def run(command):
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, check=False)
    if done.returncode not in (0, 1):
        sys.exit("failed (%d): %s" % (done.returncode, " ".join(command)))
    return time.perf_counter() - start


def copies(source, times, into):
    """`source`'s rules `times` over, each copy with its own id and title."""
    count = 0
    for root, _, names in os.walk(source):
        for name in sorted(names):
            if not name.endswith((".yml", ".yaml")):
                continue
            with open(os.path.join(root, name), encoding="utf-8") as f:
                text = f.read()
            for k in range(times):
                copy = re.sub(r"^id: *(\S+)", r"id: \1-copy%d" % k, text,
                              count=1, flags=re.M)
                copy = re.sub(r"^title: *(.+)$", r"title: \1 (copy %d)" % k,
                              copy, count=1, flags=re.M)
                with open(os.path.join(into, "%d-%s" % (k, name)), "w",
                          encoding="utf-8") as f:
                    f.write(copy)
                count += 1
    return count


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=200000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--rules", default=os.path.join(ROOT, "..", "shared",
                                                        "sigma-sample"))
    parser.add_argument("--plot")
    args = parser.parse_args()
    subprocess.run(["cmake", "--preset", "release"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "release", "--target",
                    "evfilter", "make_evtx"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    work = tempfile.mkdtemp(prefix="sigmabench.")
    try:
        log = os.path.join(work, "sysmon.evtx")
        subprocess.run([MAKE_EVTX, log, str(args.records), "sysmon"], check=True)
        commands = {"match --count": [EVFILTER, "match", "--count", "--where",
                                      "EventID = 1", log]}
        rules = {}
        for times in (1, 2, 5, 10):
            folder = os.path.join(work, "rules-%d" % times)
            os.mkdir(folder)
            rules[times] = copies(args.rules, times, folder)
            commands["hunt %d rules" % rules[times]] = [
                EVFILTER, "hunt", "--rules", folder, log]
        seconds = {name: [] for name in commands}
        for _ in range(args.runs):
            for name, command in commands.items():
                seconds[name].append(run(command))
        base = statistics.median(seconds["match --count"])
        print("%d events, %s; medians of %d interleaved runs" %
              (args.records, os.path.getsize(log) >> 20 and
               "%d MiB" % (os.path.getsize(log) >> 20), args.runs))
        print("| command | seconds | events/s | of match --count |")
        print("|---|---:|---:|---:|")
        points = []
        for name in commands:
            s = statistics.median(seconds[name])
            print("| `%s` | %.2f | %s | %.0f%% |" % (
                name, s, format(int(args.records / s), ","), 100 * base / s))
            if name.startswith("hunt"):
                points.append((int(name.split()[1]), args.records / s))
        if args.plot:
            import matplotlib
            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
            plt.figure(figsize=(7, 4.5))
            plt.plot([p[0] for p in points], [p[1] / 1e3 for p in points],
                     marker="o", label="evfilter hunt")
            plt.axhline(args.records / base / 1e3, color="gray", linestyle="--",
                        label="evfilter match --count")
            plt.axhline(args.records / base / 2e3, color="gray", linestyle=":",
                        label="half of match --count")
            plt.xlabel("rules")
            plt.ylabel("thousand events per second")
            plt.ylim(bottom=0)
            plt.legend()
            plt.title("Sigma rules over %d Sysmon events" % args.records)
            plt.tight_layout()
            plt.savefig(args.plot, dpi=100)
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
