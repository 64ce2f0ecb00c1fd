#!/usr/bin/env python3
"""hunt --report in a real browser: Chromium, headless, opens the page
from a file. It must show the counts the summary gives, draw the chart,
sort and search the table, keep the events' text as text, and fetch
nothing.

    ReportInBrowser.py EVFILTER CHROMIUM

Fails when CHROMIUM is empty: scripts/install-deps.sh installs it.
"""

import html.parser
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

EVFILTER, CHROMIUM = sys.argv[1], sys.argv[2]
if not CHROMIUM or CHROMIUM.endswith("-NOTFOUND"):
    print("no Chromium to open the report in: scripts/install-deps.sh "
          "installs it")
    sys.exit(1)

HOSTILE = "</script><img src=x onerror=\"document.title='owned'\"><!--"

RULES = {
    "mimikatz.yml": ("Mimikatz on the command line", "high", "sekurlsa::"),
    "whoami.yml": ("Whoami run", "medium", "whoami"),
    "net.yml": ("Net use", "low", "net use"),
    "odd.yml": ("Markup <b>in a title</b>", "medium", "<img"),
}


def rule(rid, title, level, needle):
    return (f"title: '{title}'\nid: {rid}\nlevel: {level}\n"
            "logsource: {product: windows, category: process_creation}\n"
            "detection:\n  sel:\n    CommandLine|contains: '" + needle +
            "'\n  condition: sel\n")


def events():
    """Three days of process starts on three hosts, one with markup in its
    command line and one with no time."""
    lines = []
    commands = ["m.exe sekurlsa::logonpasswords", "whoami /all",
                "net use \\\\srv\\c$", "cmd /c dir"]
    for i in range(120):
        e = {"EventID": 1, "Channel": "Microsoft-Windows-Sysmon/Operational",
             "Computer": ["WS01", "WS02", "DC01"][i % 3],
             "TimeCreated": "2026-03-%02dT%02d:%02d:00Z" % (
                 1 + i // 48, i % 24, i % 60),
             "CommandLine": commands[i % 4]}
        lines.append(e)
    lines.append({"EventID": 1, "Computer": "WS01",
                  "Channel": "Microsoft-Windows-Sysmon/Operational",
                  "TimeCreated": "2026-03-02T12:00:00Z",
                  "CommandLine": "whoami " + HOSTILE})
    lines.append({"EventID": 1, "Computer": "WS02",
                  "Channel": "Microsoft-Windows-Sysmon/Operational",
                  "CommandLine": "whoami (no time)"})
    return "".join(json.dumps(e) + "\n" for e in lines)


class Dom(html.parser.HTMLParser):
    """The rendered page: text by element id, the table's rows, the
    elements seen."""

    def __init__(self):
        super().__init__()
        self.stack, self.text, self.tags = [], {}, []
        self.rows, self.cell, self.attrs = [], None, {}
        self.in_rows = False

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.tags.append((tag, a))
        if "id" in a:
            self.attrs[a["id"]] = a
        if tag in ("meta", "input", "br", "img"):
            return
        self.stack.append((tag, a.get("id")))
        if a.get("id") == "rows":
            self.in_rows = True
        elif self.in_rows and tag == "tr":
            self.rows.append([])
        elif self.in_rows and tag == "td":
            self.cell = ""

    def handle_endtag(self, tag):
        if tag in ("meta", "input", "br", "img"):
            return
        while self.stack:
            t, i = self.stack.pop()
            if i == "rows":
                self.in_rows = False
            if t == tag:
                break
        if tag == "td" and self.cell is not None:
            self.rows[-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        for _, i in self.stack:
            if i:
                self.text[i] = self.text.get(i, "") + data
        if self.cell is not None:
            self.cell += data


def inside(text, start, end):
    """The text between the first `start` and the `end` after it, with
    `start`'s last character kept when it is a line break."""
    at = text.index(start) + len(start.rstrip("\n"))
    return text[at:text.index(end, at)]


def sha256(text):
    import base64
    import hashlib
    return "'sha256-%s'" % base64.b64encode(
        hashlib.sha256(text.encode()).digest()).decode()


def browse(page, *extra, fragment=""):
    with tempfile.TemporaryDirectory() as profile:
        run = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
             "--user-data-dir=" + profile, "--no-first-run",
             "--enable-logging=stderr", "--v=0", *extra,
             "file://" + page + fragment],
            capture_output=True, text=True, timeout=120)
    errors = [l for l in run.stderr.splitlines()
              if "CONSOLE" in l or "Refused" in l]
    assert not errors, "the page said:\n" + "\n".join(errors)
    return run.stdout


def dom(page, fragment=""):
    d = Dom()
    d.feed(browse(page, "--dump-dom", fragment=fragment))
    return d


def png_pixels(path):
    """Width, height and the RGB(A) rows of an 8-bit PNG."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, w = 8, b"", 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            w, h, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), (depth, colour)
            bpp = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    raw, stride, rows, prev = zlib.decompress(idat), w * bpp, [], None
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        prev = prev or bytearray(stride)
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b, c = prev[x], prev[x - bpp] if x >= bpp else 0
            if f == 1:
                line[x] = (line[x] + a) & 255
            elif f == 2:
                line[x] = (line[x] + b) & 255
            elif f == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else
                                      b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return w, h, bpp, rows


def main():
    with tempfile.TemporaryDirectory() as folder:
        for n, (name, (title, level, needle)) in enumerate(RULES.items()):
            with open(os.path.join(folder, name), "w") as f:
                f.write(rule("33333333-0000-0000-0000-00000000000%d" % n,
                             title, level, needle))
        log = os.path.join(folder, "events.jsonl")
        with open(log, "w") as f:
            f.write(events())
        page = os.path.join(folder, "report.html")
        run = subprocess.run(
            [EVFILTER, "hunt", "--rules", folder, "--summary", "json",
             "--report", page, log], capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        summary = json.loads(run.stderr.strip().splitlines()[-1])
        assert summary["detections"] == len(run.stdout.splitlines()) == 93, (
            summary["detections"])
        text = open(page, encoding="utf-8").read()

        # Nothing is fetched: a policy that allows no source, and no
        # address but the SVG namespace's; only the page's own script and
        # style run (by their hashes), never one the data could carry.
        assert "default-src 'none'" in text
        assert "unsafe-inline" not in text
        policy = re.search(r'Content-Security-Policy" content="([^"]*)"',
                           text).group(1)
        wanted = "default-src 'none'; script-src %s; style-src %s" % (
            sha256(inside(text, "<script>\n", "</script>")),
            sha256(inside(text, "<style>", "</style>")))
        assert policy == wanted, "the page's policy should read: " + wanted
        assert set(re.findall(r"https?://[^\s\"'<>]*", text)) == {
            "http://www.w3.org/2000/svg"}

        # The counts the summary gives.
        d = dom(page)
        num = lambda n: format(n, ",")
        card = lambda i: re.match(r"[0-9,]+", d.text[i]).group(0)
        assert card("total") == num(summary["detections"])
        for level in ("critical", "high", "medium", "low", "informational"):
            assert card("level-" + level) == num(summary["by_level"][level])
        assert card("rules-fired") == str(len(summary["rules"]))
        assert card("hosts") == str(len(summary["hosts"]))
        for r in summary["rules"]:
            assert num(r["detections"]) + r["title"] in d.text[
                "top-rules"].replace("\n", ""), r
        assert "Markup <b>in a title</b>" in d.text["top-rules"]
        assert "1 detection(s) have no readable time" in d.text["chart-note"]
        bars = [a for t, a in d.tags if t == "rect"]
        assert {a["class"] for a in bars} == {"bar high", "bar medium",
                                              "bar low"}
        assert len(d.rows) == summary["detections"], len(d.rows)
        assert d.text["shown"].startswith("93 of 93 row(s)")

        # The hostile command line is text, not markup: no image element,
        # the title unchanged, the words whole in their cell.
        assert not any(t == "img" for t, _ in d.tags)
        assert d.text["rows"].count(HOSTILE) == 2  # in details, twice ruled

        # Sorting: by record, descending; by level, ascending (low first);
        # a second click reverses.
        d = dom(page, "#sort=record,desc")
        records = [int(r[5]) for r in d.rows]
        assert records == sorted(records, reverse=True), records[:10]
        assert d.attrs["detections"] is not None
        d = dom(page, "#sort=level")
        rank = {"low": 1, "medium": 2, "high": 3}
        levels = [rank[r[1]] for r in d.rows]
        assert levels == sorted(levels) and levels[0] == 1, levels[:10]
        d = dom(page, "#sort=time,desc")
        times = [r[0] for r in d.rows]
        assert times == sorted(times, reverse=True)
        # Searching: only the rows that hold the text, any column.
        d = dom(page, "#q=DC01")
        assert d.rows and all("DC01" in r for r in d.rows)
        assert d.text["shown"].startswith("%d of 93" % len(d.rows))

        # The screenshot: the page's size, the chart's colours drawn.
        shot = os.path.join(folder, "shot.png")
        browse(page, "--screenshot=" + shot, "--window-size=1200,900",
               "--hide-scrollbars")
        w, h, bpp, rows = png_pixels(shot)
        assert (w, h) == (1200, 900), (w, h)
        colours = {"high": (0xd3, 0x2f, 0x2f), "medium": (0xf5, 0x7c, 0x00),
                   "low": (0xfb, 0xc0, 0x2d)}
        seen = {k: 0 for k in colours}
        for line in rows:
            for x in range(0, len(line), bpp):
                px = tuple(line[x:x + 3])
                for k, c in colours.items():
                    seen[k] += px == c
        assert all(n > 2000 for n in seen.values()), seen
    print("report: counts, chart, sort, search and screenshot as the "
          "summary says")


main()
