#!/usr/bin/env python3
"""Generates a realistic security-event log as CSV, reproducibly.

    python3 examples/generate_events.py [--rows 20000] [--seed 7]
        [--end 2026-12-08] [--days 120] > examples/events.csv

Events: logons (4624), failed logons (4625), logoffs (4634), process starts
(4688), new users (4720), lockouts (4740), service installs (7045) and log
clears (1102), spread over the `--days` days before `--end`, busier in
working hours. EXT_TAGS holds "@tag@value~tag~" entries (severity, logon
type, source, ...). The same seed and end date give the same file.
"""
import argparse
import datetime
import random

USERS = ["administrator", "admin.jones", "adm_backup", "alice", "bob", "carol",
         "dave", "erin", "frank", "grace", "heidi", "ivan", "judy", "mallory",
         "svc_sql", "svc_backup", "svc_web", "guest", "ADMIN.SMITH", "trent"]
HOSTS = ["DC01", "DC02", "WS0142", "WS0157", "WS0203", "SRV-FILE01",
         "SRV-SQL02", "SRV-WEB01", "LAPTOP-7F3K", "LAPTOP-9QX2"]
PROCESSES = [r"C:\Windows\System32\svchost.exe", r"C:\Windows\System32\cmd.exe",
             r"C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe",
             r"C:\Program Files\Microsoft Office\root\Office16\WINWORD.EXE",
             r"C:\Windows\explorer.exe", r"C:\Users\Public\update.exe",
             r"C:\Windows\System32\rundll32.exe", r"C:\Program Files\Git\bin\git.exe"]
SERVICES = ["Windows Update Helper", "SQL Server Agent", "RemoteAccessTool",
            "Backup Agent", "PSEXESVC"]
EVENTS = [  # id, weight, description
    (4624, 40, "An account was successfully logged on"),
    (4625, 14, "An account failed to log on"),
    (4634, 20, "An account was logged off"),
    (4688, 18, "A new process has been created"),
    (4720, 2, "A user account was created"),
    (4740, 2, "A user account was locked out"),
    (7045, 3, "A service was installed in the system"),
    (1102, 1, "The audit log was cleared"),
]
FAILURE_REASONS = ["Unknown user name or bad password", "Account locked out",
                   "Account disabled", "Logon type not granted"]
LOGON_TYPES = ["interactive", "network", "remoteinteractive", "service", "batch"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=20000)
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--end", default="2026-12-08")
    ap.add_argument("--days", type=int, default=120)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    end = datetime.datetime.fromisoformat(args.end)
    start = end - datetime.timedelta(days=args.days)
    ids = [e[0] for e in EVENTS]
    weights = [e[1] for e in EVENTS]
    text = {e[0]: e[2] for e in EVENTS}
    rows = []
    for _ in range(args.rows):
        day = start + datetime.timedelta(days=rng.randrange(args.days + 1))
        hour = rng.choice(range(7, 19)) if rng.random() < 0.8 else rng.randrange(24)
        when = day.replace(hour=hour, minute=rng.randrange(60), second=rng.randrange(60))
        event = rng.choices(ids, weights)[0]
        user = rng.choice(USERS)
        host = rng.choice(HOSTS)
        logon = rng.choice(LOGON_TYPES)
        severity = "low"
        process = ""
        status = "success"
        size = rng.randrange(200, 4000)
        tags = []
        if event == 4625:
            status = "failure"
            severity = "medium" if rng.random() < 0.7 else "high"
            tags.append(("reason", rng.choice(FAILURE_REASONS)))
        elif event == 4688:
            process = rng.choice(PROCESSES)
            severity = "high" if "Public" in process else "low"
        elif event == 7045:
            severity = "high" if rng.random() < 0.5 else "medium"
            tags.append(("service", rng.choice(SERVICES)))
        elif event in (1102, 4740):
            severity = "high"
        elif event == 4720:
            severity = "medium"
        tags[:0] = [("severity", severity), ("logon", logon), ("source", host.lower())]
        ext = "".join("@%s@%s~%s~" % (t, v, t) for t, v in tags)
        rows.append((when, event, user, host, process, status, size, text[event], ext))
    rows.sort(key=lambda r: r[0])
    print("EventID,Received,Time,User,Host,Process,Status,Size,Message,EXT_TAGS")
    for when, event, user, host, process, status, size, message, ext in rows:
        fields = [str(event), when.strftime("%Y-%m-%d"), when.strftime("%H:%M:%S"), user,
                  host, process, status, str(size), message, ext]
        print(",".join('"%s"' % f.replace('"', '""') if ("," in f or '"' in f) else f
                       for f in fields))


if __name__ == "__main__":
    main()
