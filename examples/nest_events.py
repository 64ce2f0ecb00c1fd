#!/usr/bin/env python3
"""Turns the generator's CSV into nested, Sysmon-like JSON Lines.

    python3 examples/generate_events.py --rows 1000 | python3 examples/nest_events.py > events.jsonl

Each CSV row becomes one object:
    {"Event": {"System": {"EventID": 4625, "Computer": "DC01",
               "TimeCreated": {"SystemTime": "2026-12-01T08:00:00Z"}},
               "EventData": {"TargetUserName": "admin.jones", "Image": "...",
                             "Status": "failure", "Size": 512}},
     "Message": "...", "Tags": ["medium", "network", "dc01"]}
"""
import csv
import json
import re
import sys


def main():
    out = sys.stdout
    for row in csv.DictReader(sys.stdin):
        tags = re.findall(r"@[^@]+@([^~]*)~[^~]+~", row["EXT_TAGS"])
        event = {
            "Event": {
                "System": {
                    "EventID": int(row["EventID"]),
                    "Computer": row["Host"],
                    "TimeCreated": {"SystemTime": "%sT%sZ" % (row["Received"], row["Time"])},
                },
                "EventData": {
                    "TargetUserName": row["User"],
                    "Image": row["Process"],
                    "Status": row["Status"],
                    "Size": int(row["Size"]),
                },
            },
            "Message": row["Message"],
            "Tags": tags,
        }
        out.write(json.dumps(event, separators=(",", ":")) + "\n")


if __name__ == "__main__":
    main()
