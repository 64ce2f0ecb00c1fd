#!/usr/bin/python3
"""Sigma hunting speed: `evfilter hunt` against `evfilter match --count`
over the same file, side by side, and how the cost grows with rules.

Measured in one run, the commands' repetitions interleaved, median wall
time of each, on a large Sysmon log made by the test writer:
  - `evfilter match --count --where "EventID > 0"` (reading and one filter);
  - `evfilter hunt` with every rule of a rule folder (by default the shared
    sample, ../shared/sigma-sample), and with that set made 2, 5 and 10
    times larger by renamed copies (new ids and titles); with --distinct,
    4 and 16 times larger by copies with literals of their own, which
    share no needles (see distinct()).
Events per second count the events read. With --plot, the rules against
events per second go to a PNG. --evtx hunts a given log (the shared
samples spliced by bench/splice_evtx.py, say) instead of a writer-made
one; --jobs gives both commands -j N. --against EVFILTER runs another
build (the previous main's, a worktree) alongside, interleaved; --preset
names the build (release by default).

Usage: bench/sigma_bench.py [--records N] [--runs R] [--rules DIR]
                            [--distinct] [--evtx FILE] [--jobs N]
                            [--against EVFILTER] [--preset NAME]
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
PRESET = "release"
EVFILTER = MAKE_EVTX = None  # of the preset's build, set in main


def run(command):
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, check=False)
    if done.returncode not in (0, 1):
        sys.exit("failed (%d): %s" % (done.returncode, " ".join(command)))
    return time.perf_counter() - start


def write_copies(source, times, into, make):
    """Every rule file of `source`, `times` over: copy k of a file's text
    is make(text, k), written to `into` as "k-name". Returns the count."""
    count = 0
    for root, _, names in os.walk(source):
        for name in sorted(names):
            if not name.endswith((".yml", ".yaml")):
                continue
            with open(os.path.join(root, name), encoding="utf-8") as f:
                text = f.read()
            for k in range(times):
                with open(os.path.join(into, "%d-%s" % (k, name)), "w",
                          encoding="utf-8") as f:
                    f.write(make(text, k))
                count += 1
    return count


def renamed(text, id_suffix, title_suffix):
    """`text` with `id_suffix` after its id and `title_suffix` after its
    title."""
    text = re.sub(r"^id: *(\S+)", r"id: \1" + id_suffix, text, count=1,
                  flags=re.M)
    return re.sub(r"^title: *(.+)$", r"title: \1" + title_suffix, text,
                  count=1, flags=re.M)


def copies(source, times, into):
    """`source`'s rules `times` over, each copy with its own id and title."""
    return write_copies(source, times, into, lambda text, k: renamed(
        text, "-copy%d" % k, " (copy %d)" % k))


# Values a changed literal would break or that are no literal.
KEEP_MODIFIERS = ("|re", "|cidr", "|base64", "|fieldref", "|expand",
                  "|exists")
LINE = re.compile(r"^(\s*(?:- )?)([^\s:#'\"][^:#]*: ?)?(.*?)\s*$")


def changed(value, k):
    """`value` (a YAML scalar as written) with `k` in it, before a
    trailing wildcard; numbers, booleans and nulls as they are."""
    quote = value[0] if value[0] in "'\"" else ""
    body = value[1:-1] if quote else value
    if not body or re.fullmatch(r"-?\d+|true|false|null|~|\[.*\]|\{.*\}",
                                body, re.I):
        return value
    stem = body.rstrip("*")
    return quote + stem + "k%d" % k + body[len(stem):] + quote


def distinct(source, times, into):
    """`source`'s rules `times` over, each copy after the first with its
    own id, title and literals: every string a selection compares is
    changed (`k<copy>` before its trailing wildcard), apart from regular
    expressions, networks, base64 forms, field references and
    placeholders. So the copies share neither needles nor gates, as rules
    of a real set do not."""
    return write_copies(source, times, into, with_own_literals)


def with_own_literals(text, k):
    """Copy `k` of a rule's `text` (the rule itself when k is 0)."""
    if k == 0:
        return text
    lines, keep, in_detection = [], False, False
    for line in text.split("\n"):
        if re.match(r"^\S", line):
            in_detection = line.startswith(("detection:", "filter:"))
        elif in_detection:
            prefix, key, value = LINE.match(line).groups()
            if key:
                # A key's own value, or the list under it.
                keep = (any(m in key for m in KEEP_MODIFIERS) or
                        key.startswith("condition"))
            if value and (key or "- " in prefix) and not keep:
                line = prefix + (key or "") + changed(value, k)
        lines.append(line)
    return renamed("\n".join(lines), "-%d" % k, " (%d)" % k)


def count_events(log):
    """The events `evfilter match --count` reads from `log`."""
    done = subprocess.run([EVFILTER, "match", "--count", "-v", "--where",
                           "EventID < 0", log], capture_output=True,
                          text=True, check=False)
    if done.returncode not in (0, 1) or not done.stdout.strip().isdigit():
        sys.exit("cannot count the events of %s: %s" % (log, done.stderr))
    return int(done.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--records", type=int, default=200000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--rules", default=os.path.join(ROOT, "..", "shared",
                                                        "sigma-sample"))
    parser.add_argument("--plot")
    parser.add_argument("--distinct", action="store_true")
    parser.add_argument("--evtx")
    parser.add_argument("--jobs", default="1")
    parser.add_argument("--against")
    parser.add_argument("--preset", default=PRESET)
    args = parser.parse_args()
    global EVFILTER, MAKE_EVTX
    build = os.path.join(ROOT, "build", args.preset)
    EVFILTER = os.path.join(build, "evfilter", "evfilter")
    MAKE_EVTX = os.path.join(build, "tests", "make_evtx")
    subprocess.run(["cmake", "--preset", args.preset], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", args.preset, "--target",
                    "evfilter", "make_evtx"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    work = tempfile.mkdtemp(prefix="sigmabench.")
    try:
        log = args.evtx or os.path.join(work, "sysmon.evtx")
        if not args.evtx:
            subprocess.run([MAKE_EVTX, log, str(args.records), "sysmon"],
                           check=True)
        else:
            args.records = count_events(log)
        jobs = ["-j", args.jobs]
        commands = {"match --count": [EVFILTER, "match", "--count", "--where",
                                      "EventID > 0", log] + jobs}
        rules = {}
        make = distinct if args.distinct else copies
        for times in (1, 4, 16) if args.distinct else (1, 2, 5, 10):
            folder = os.path.join(work, "rules-%d" % times)
            os.mkdir(folder)
            rules[times] = make(args.rules, times, folder)
            commands["hunt %d rules" % rules[times]] = [
                EVFILTER, "hunt", "--rules", folder, log] + jobs
        if args.against:
            for name in list(commands):
                commands[name + " (against)"] = (
                    [args.against] + commands[name][1:])
        print("load average before: %.2f" % os.getloadavg()[0])
        seconds = {name: [] for name in commands}
        for _ in range(args.runs):
            for name, command in commands.items():
                seconds[name].append(run(command))
        print("load average after: %.2f" % os.getloadavg()[0])
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
            if name.startswith("hunt") and not name.endswith("(against)"):
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
