"""One file, three front ends, one count: `evfilter match --count`,
filtermodule.read_events with a mask, and filtermodule.dask.read_events
with filter_frame (divided into several partitions wherever the file can
be), on the exports analysts hold."""

import json
import random
import warnings

import pytest

pd = pytest.importorskip("pandas")
pytest.importorskip("dask.dataframe")

import filtermodule as fm  # noqa: E402
import filtermodule.dask as fmd  # noqa: E402
from conftest import evfilter_count  # noqa: E402

RECORDS = 600


def powershell_csv(rng):
    """Export-Csv: byte-order mark, #TYPE, quoted header, CRLF, messages
    over several lines with quotes and commas inside."""
    out = ["\ufeff#TYPE System.Diagnostics.EventLogEntry#Security/Microsoft-Windows",
           '"EventID","MachineName","Message","TimeGenerated","UserName"']
    for i in range(RECORDS):
        event = rng.choice([4624, 4625, 4688, 4672])
        user = rng.choice(["admin", "bob", "svc_backup", "Administrator"])
        message = ('An account failed to log on.\r\n\r\nSubject:\r\n\tAccount Name:'
                   '\t"%s", logon type %d\r\n4625,"not a record"' % (user, i % 11)
                   if event == 4625 else "An account was successfully logged on.")
        out.append('"%d","WS-%02d","%s","12/%d/2026 %d:%02d:%02d %s","CORP\\%s"' % (
            event, i % 17, message.replace('"', '""'), 1 + i % 8, 1 + i % 12,
            i % 60, i % 59, "AM" if i % 3 else "PM", user))
    return "\r\n".join(out) + "\r\n"


def sysmon_jsonl(rng):
    """Nested Sysmon events, as a JSON export of the event log gives them."""
    lines = []
    for i in range(RECORDS):
        event = rng.choice([1, 3, 11, 13])
        data = {"Image": rng.choice(["C:\\Windows\\System32\\cmd.exe",
                                     "C:\\Users\\bob\\AppData\\evil.exe",
                                     "C:\\Windows\\explorer.exe"])}
        if event == 3:
            data["DestinationPort"] = rng.choice([445, 3389, 443])
        lines.append(json.dumps({"Event": {
            "System": {"Provider": {"Name": "Microsoft-Windows-Sysmon"},
                       "EventID": event, "Computer": "ws-%d" % (i % 9),
                       "TimeCreated": {"SystemTime": "2026-12-0%dT%02d:15:00.1Z"
                                       % (1 + i % 8, i % 24)}},
            "EventData": data}}))
    return "\n".join(lines) + "\n"


def json_array(rng):
    """A pretty-printed JSON array, as ConvertTo-Json writes it."""
    items = [{"Id": rng.choice([4624, 4625, 4740]), "LevelDisplayName":
              rng.choice(["Information", "Warning", None]),
              "Message": "Event %d" % i} for i in range(RECORDS)]
    return json.dumps(items, indent=4) + "\n"


def journald_json(rng):
    """journalctl -o json: fields vary by record; MESSAGE is a byte array
    where it is not valid UTF-8 text."""
    lines = []
    for i in range(RECORDS):
        record = {"__REALTIME_TIMESTAMP": str(1764540000000000 + i * 3600_000_000),
                  "PRIORITY": str(rng.choice([3, 4, 6])),
                  "_COMM": rng.choice(["sshd", "sudo", "cron"])}
        text = "Failed password for %s" % rng.choice(["root", "admin"])
        if i % 5 == 0:
            record["MESSAGE"] = list(text.encode()) + [0xFF]
        else:
            record["MESSAGE"] = text if i % 2 else "Accepted publickey"
        if i % 7 == 0:
            record["_PID"] = str(1000 + i)
        lines.append(json.dumps(record))
    return "\n".join(lines) + "\n"


def tsv(rng):
    """A TSV export with escaped tabs and line breaks in its cells."""
    out = ["EventID\tUser\tCommandLine"]
    for i in range(RECORDS):
        out.append("%d\t%s\t%s" % (rng.choice([4688, 4624]),
                                   rng.choice(["admin", "bob"]),
                                   rng.choice(["cmd.exe /c\\tdir", "powershell -enc\\nAAA",
                                               "notepad.exe"])))
    return "\n".join(out) + "\n"


def counts_alike(path, frame, ddf, wheres):
    """Each where counts the same records through evfilter, the frame's
    mask and Dask's filter_frame, and some but not all of them."""
    for where in wheres:
        expected = evfilter_count(["--where", where], str(path))
        assert 0 < expected < RECORDS, (path.name, where)
        f = fm.Filter(where=where)
        assert int(f.mask(frame).sum()) == expected, (path.name, where)
        hits = fmd.filter_frame(ddf, filter=f).compute(scheduler="sync")
        assert len(hits) == expected, (path.name, where)


CASES = [
    ("Security.csv", powershell_csv, 4096,
     ["EventID = 4625 AND Message CONTAINS 'failed to log on'",
      "UserName LIKE '*admin*' AND TimeGenerated > 12/3/2026",
      "NOT EventID = 4624"]),
    ("Sysmon.jsonl", sysmon_jsonl, 8192,
     ["Event.System.EventID = 1 AND Event.EventData.Image LIKE '*\\cmd.exe'",
      "Event.System.EventID = 3 AND NOT Event.EventData.DestinationPort = 443",
      "Event.System.TimeCreated.SystemTime > 2026-12-05"]),
    ("Application.json", json_array, 4096,
     ["Id >= 4625", "LevelDisplayName = Warning OR Id = 4740"]),
    ("journal.json", journald_json, 8192,
     ["MESSAGE CONTAINS 'password for root'", "MESSAGE LIKE 'Failed*'",
      "_COMM = sshd AND PRIORITY < 5", "_PID > 1000"]),
    ("Processes.tsv", tsv, 4096,
     ["CommandLine CONTAINS '\t'", "User = admin AND EventID = 4688"]),
]


@pytest.mark.parametrize("name,make,blocksize,wheres", CASES,
                         ids=[c[0] for c in CASES])
def test_three_front_ends_count_alike(tmp_path, name, make, blocksize, wheres):
    path = tmp_path / name
    path.write_bytes(make(random.Random(name)).encode("utf-8"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", fm.FilterWarning)
        frame = fm.read_events(str(path))
        ddf = fmd.read_events(str(path), blocksize=blocksize)
        if not name.endswith(".json"):
            assert ddf.npartitions > 1, "the file should be divided"
        assert len(frame) == RECORDS
        assert len(ddf.compute(scheduler="sync")) == RECORDS
        counts_alike(path, frame, ddf, wheres)


ZEEK_CONN = (
    "#separator \\x09\n#set_separator\t,\n#empty_field\t(empty)\n"
    "#unset_field\t-\n#path\tconn\n#fields\tts\tid.orig_h\tid.resp_p\tproto\n"
    "#types\ttime\taddr\tport\tenum\n" +
    "".join("%d.%d\t10.0.0.%d\t%d\t%s\n" % (1796767200 + i, i % 10, i % 7,
                                          (53, 443, 8080)[i % 3],
                                          ("udp", "tcp")[i % 2])
            for i in range(RECORDS)))

LOG_CASES = [
    # An event log: full paths, names in any case and short names read the
    # same fields through every front end.
    ("Security.evtx", ["Event.System.EventID = 4625",
                       "eventid = 4625 AND event.eventdata.targetusername LIKE 'adm*'",
                       "Event.EventData.LogonType = 3 AND TargetUserName = bob",
                       "TimeCreated > '2024-12-30T07:00:00'"]),
    ("conn.log", ["id.resp_p > 100", "proto = tcp AND id.resp_p < 1000",
                  "ts > '2026-12-08T22:05:00.5'"]),
]


@pytest.mark.parametrize("name,wheres", LOG_CASES, ids=[c[0] for c in LOG_CASES])
def test_three_front_ends_count_alike_on_logs(tmp_path, name, wheres):
    from conftest import make_evtx

    path = tmp_path / name
    if name.endswith(".evtx"):
        make_evtx(path, RECORDS)
    else:
        path.write_text(ZEEK_CONN)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", fm.FilterWarning)
        frame = fm.read_events(str(path))
        ddf = fmd.read_events(str(path))
        assert len(frame) == RECORDS
        counts_alike(path, frame, ddf, wheres)
