#!/usr/bin/env python3
"""evfilter's EVTX reader against libevtx's export, record by record.

For each .evtx file given (default: ../shared/evtx-samples/*.evtx beside
the project), reads every record with `evfilter match` (JSON Lines) and
with `evtxexport -f xml` (Debian's libevtx-utils), and compares the record
count and every field: the System fields, each EventData Data by its Name
(Data, Data_2, ... without one), each UserData leaf by its element name.

Values are compared as Windows renders them, which is how evfilter writes
them; libevtx writes some forms of its own, so these are made equal first:
hexadecimal integers compared as numbers (libevtx pads 0x3e7 to
0x00000000000003e7), times to the 100 ns a FILETIME holds (libevtx adds
two zeros), line breaks as an XML parser reads them ("\r\n" as "\n"), and
names of the System fields mapped to evfilter's. A record
whose text holds a character beyond the BMP is counted apart: libevtx
20181227 decodes its surrogate pair wrongly (U+1F600 comes out as U+1F201).

Usage: bench/evtx_agreement.py [--evfilter PATH] [FILE.evtx ...]
Exit status 0 when every record agrees, 1 otherwise.
"""

import argparse
import glob
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SYSTEM = {  # (element, attribute or None) -> evfilter's name
    ("EventID", None): "EventID", ("Version", None): "Version",
    ("Level", None): "Level", ("Task", None): "Task",
    ("Opcode", None): "Opcode", ("Keywords", None): "Keywords",
    ("EventRecordID", None): "EventRecordID", ("Channel", None): "Channel",
    ("Computer", None): "Computer", ("Provider", "Name"): "Provider_Name",
    ("Provider", "Guid"): "Provider_Guid",
    ("TimeCreated", "SystemTime"): "TimeCreated",
    ("Execution", "ProcessID"): "ProcessID",
    ("Execution", "ThreadID"): "ThreadID", ("Security", "UserID"): "UserID",
}
HEX = re.compile(r"^0x[0-9a-fA-F]+$")
TIME = re.compile(r"^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{7})\d*Z$")


def local(tag):
    return tag.rsplit("}", 1)[-1]


def fields_of(event):
    """The fields of one exported <Event>, named as evfilter names them:
    (System fields, data fields)."""
    system, data = {}, []
    for part in event:
        name = local(part.tag)
        if name == "System":
            for e in part:
                tag = local(e.tag)
                if (tag, None) in SYSTEM:
                    system[SYSTEM[(tag, None)]] = e.text or ""
                for attr, value in e.attrib.items():
                    if (tag, attr) in SYSTEM:
                        system[SYSTEM[(tag, attr)]] = value
        elif name == "EventData":
            for e in part:
                tag = local(e.tag)
                key = e.attrib.get("Name", "Data") if tag == "Data" else tag
                data.append((key, e.text or ""))
        elif name == "UserData":
            def leaves(e):
                kids = list(e)
                if not kids:
                    data.append((local(e.tag), e.text or ""))
                for k in kids:
                    leaves(k)
            for e in part:
                for k in e:
                    leaves(k)
    # Later names taken (without case) become name_2, name_3, as evfilter
    # names them.
    named, seen = [], set()
    for key, value in data:
        k, n = key, 2
        while k.lower() in seen:
            k, n = "%s_%d" % (key, n), n + 1
        seen.add(k.lower())
        named.append((k, value))
    return system, named


def same(a, b):
    if a == b:
        return True
    if HEX.match(a) and HEX.match(b):
        return int(a, 16) == int(b, 16)
    ta, tb = TIME.match(a), TIME.match(b)
    return bool(ta and tb and ta.group(1) == tb.group(1))


def beyond_bmp(text):
    return any(ord(c) > 0xFFFF for c in text)


def exported(path):
    out = subprocess.run(["evtxexport", "-f", "xml", path], capture_output=True,
                         check=True).stdout.decode("utf-8", "replace")
    docs = re.findall(r"<Event[ >].*?</Event>", out, flags=re.S)
    return [ET.fromstring(d) for d in docs]


def read_by_evfilter(evfilter, path):
    done = subprocess.run([evfilter, "match", "--where", "EventRecordID > 0",
                           path], capture_output=True, check=False)
    if done.returncode not in (0, 1):
        sys.exit("evfilter failed on %s: %s" % (path, done.stderr.decode()))
    return [json.loads(line) for line in done.stdout.decode().splitlines()]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--evfilter", default=os.path.join(
        ROOT, "build", "release", "evfilter", "evfilter"))
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files or sorted(glob.glob(os.path.join(
        ROOT, "..", "shared", "evtx-samples", "*.evtx")))
    if not files:
        sys.exit("no .evtx files given, and none in ../shared/evtx-samples")
    bad = total = apart = 0
    for path in files:
        theirs = exported(path)
        ours = read_by_evfilter(args.evfilter, path)
        wrong = 0
        if len(theirs) != len(ours):
            print("%s: %d records exported, %d read" % (path, len(theirs), len(ours)))
            bad += 1
        for event, record in zip(theirs, ours):
            system, data = fields_of(event)
            if beyond_bmp(json.dumps(record, ensure_ascii=False)):
                apart += 1
                continue
            expected = dict(data)
            for name, value in system.items():
                # A System name that a data field takes goes by its path.
                if any(k.lower() == name.lower() for k, _ in data):
                    continue
                expected[name] = value
            # An XML parser reads a line break as "\n" whatever it was.
            got = {k: ("" if v is None else str(v)).replace("\r\n", "\n")
                   for k, v in record.items() if not k.startswith("Event.")}
            differ = [k for k in set(expected) | set(got)
                      if not same(expected.get(k, "<absent>"), got.get(k, "<absent>"))]
            if differ:
                wrong += 1
                if wrong <= 3:
                    k = sorted(differ)[0]
                    print("%s: record %s: %s: exported %r, read %r" % (
                        path, got.get("EventRecordID"), k,
                        expected.get(k, "<absent>"), got.get(k, "<absent>")))
        total += len(ours)
        bad += wrong
        print("%s: %d records, %d agree in every field" % (
            os.path.basename(path), len(ours), len(ours) - wrong))
    print("%d records in %d files; %d disagree; %d with characters beyond "
          "the BMP not compared" % (total, len(files), bad, apart))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
