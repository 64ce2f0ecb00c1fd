"""Sigma rules from Python: Filter.from_sigma, hunt and dask.hunt give the
detections evfilter hunt gives, and say what they could not load."""

import json
import pickle
import warnings

import pytest

pd = pytest.importorskip("pandas")

import filtermodule as fm  # noqa: E402
from conftest import evfilter, make_evtx  # noqa: E402

FAILED = """title: Failed logon of an admin
id: 22222222-0000-0000-0000-000000000001
status: stable
level: high
tags:
  - attack.t1110.001
logsource:
  product: windows
  service: security
detection:
  sel:
    EventID: 4625
    TargetUserName|startswith: adm
  condition: sel
"""

REGEX = """title: Admin by pattern
id: 22222222-0000-0000-0000-000000000002
level: low
logsource:
  product: windows
  service: security
detection:
  sel:
    TargetUserName|re: '^adm_'
  filter:
    LogonType: '3'
  condition: sel and not filter
"""

LOOKAROUND = """title: Not for RE2
id: 22222222-0000-0000-0000-000000000003
level: high
logsource:
  product: windows
detection:
  sel:
    F|re: '(?<=a)b'
  condition: sel
"""


FILTER = """title: Site tuning
id: 33333333-0000-0000-0000-000000000001
logsource:
  product: windows
  service: security
filter:
  rules:
    - %s
    - 33333333-0000-0000-0000-00000000ffff
  selection:
    TargetUserName: adm_backup
  condition: selection
"""


CORRELATION = """title: Failures of one admin
id: c1
level: high
correlation:
  type: event_count
  rules: [22222222-0000-0000-0000-000000000001]
  group-by: [TargetUserName]
  timespan: %s
  condition: {gte: 3}
"""


@pytest.fixture
def rules(tmp_path):
    folder = tmp_path / "rules"
    (folder / "nested").mkdir(parents=True)
    (folder / "failed.yml").write_text(FAILED)
    (folder / "nested" / "regex.yaml").write_text(REGEX)
    (folder / "nested" / "lookaround.yml").write_text(LOOKAROUND)
    return str(folder)


def quiet_hunt(*args, **kwargs):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        found = fm.hunt(*args, **kwargs)
    return found, [w for w in seen if w.category is fm.RuleWarning]


def test_hunt_gives_what_evfilter_hunt_gives(tmp_path, rules):
    log = make_evtx(tmp_path / "Security.evtx", 600)
    found, warned = quiet_hunt([log], rules=rules)
    assert list(found.columns) == ["rule_id", "rule_title", "level", "input",
                                   "record_id", "timestamp", "event"]
    assert len(warned) == 1 and "1 rule(s) not supported" in str(warned[0].message)
    assert "RE2" in str(warned[0].message)
    lines = evfilter("hunt", "--rules", rules, log).splitlines()
    expected = [json.loads(line) for line in lines]
    assert len(expected) > 20
    assert found[["rule_id", "record_id", "timestamp"]].values.tolist() == [
        [d["rule_id"], d["record_id"], d["timestamp"]] for d in expected]
    assert set(found["input"]) == {log}
    assert found.iloc[0]["event"]["Channel"] == "Security"

    high, _ = quiet_hunt([log], rules=rules, min_level="high")
    assert set(high["level"]) == {"high"}
    stable, _ = quiet_hunt([log], rules=rules, status="stable")
    assert len(stable) == len(high)
    # Chosen by id and tag, less excluded ids, as evfilter hunt chooses.
    failed, regex = ("22222222-0000-0000-0000-00000000000" + n
                     for n in "12")
    exclude_file = tmp_path / "excluded.txt"
    exclude_file.write_text("# tuning\n%s  # noisy\n" % failed)
    for kwargs, same_as in [(dict(ids=[failed]), high),
                            (dict(tags="attack.t1110"), high),
                            (dict(exclude_ids=[regex]), high),
                            (dict(exclude_file=exclude_file),
                             found[found["rule_id"] == regex])]:
        chosen, _ = quiet_hunt([log], rules=rules, **kwargs)
        assert chosen[["rule_id", "record_id"]].values.tolist() == \
            same_as[["rule_id", "record_id"]].values.tolist(), kwargs
    for kwargs, said in [(dict(min_level="severe"), "unknown level"),
                         (dict(tags=["attack.t111"]), "no rule has the tag"),
                         (dict(ids=["x"]), "no rule has the id 'x'"),
                         (dict(exclude_ids=[failed, regex]),
                          "no rule is left")]:
        with pytest.raises(ValueError, match=said):
            quiet_hunt([log], rules=rules, **kwargs)
    with pytest.raises(fm.ReadError, match="cannot be opened"):
        quiet_hunt([log], rules=rules, exclude_file=tmp_path / "none.txt")

    # A site's filter removes what it matches of the rules it names, in
    # files and in frames, as evfilter hunt --filters does.
    site = tmp_path / "mf_site.yml"
    site.write_text(FILTER % failed)
    filtered, warned = quiet_hunt([log], rules=rules, filters=site)
    assert any("is not among the rules run" in str(w.message)
               for w in warned)
    expected = [json.loads(line) for line in evfilter(
        "hunt", "--rules", rules, "--filters", str(site), log).splitlines()]
    assert filtered[["rule_id", "record_id"]].values.tolist() == [
        [d["rule_id"], d["record_id"]] for d in expected]
    assert 0 < len(filtered) < len(found)
    on_frame, _ = quiet_hunt(fm.read_events(log), rules=rules, filters=[site])
    assert len(on_frame) == len(filtered)
    with pytest.raises(ValueError, match="holds a rule, not a filter"):
        quiet_hunt([log], rules=rules, filters=rules)

    # A period and events of interest, as evfilter hunt --since, --until
    # and --where take them, in files and in frames.
    times = sorted(found["timestamp"])
    since, until = times[len(times) // 3], times[2 * len(times) // 3]
    where = "LogonType = '3'"
    for kwargs, options, left in [
            (dict(since=since, until=until),
             ["--since", since, "--until", until], "outside_period"),
            (dict(where=where), ["--where", where], "not_matching_where")]:
        scoped, _ = quiet_hunt([log], rules=rules, **kwargs)
        expected = [json.loads(line) for line in evfilter(
            "hunt", "--rules", rules, *options, log).splitlines()]
        assert scoped[["rule_id", "record_id"]].values.tolist() == [
            [d["rule_id"], d["record_id"]] for d in expected], kwargs
        assert 0 < len(scoped) < len(found)
        assert scoped.attrs["left"][left] > 0
        on_frame, _ = quiet_hunt(fm.read_events(log), rules=rules, **kwargs)
        assert len(on_frame) == len(scoped), kwargs
    with pytest.raises(ValueError, match="is no date or timestamp"):
        quiet_hunt([log], rules=rules, since="soon")
    with pytest.raises(fm.ExpressionError):
        quiet_hunt([log], rules=rules, where="LogonType =")
    # A value the expression cannot read is said under its own field.
    import pandas as pd
    frame = pd.DataFrame({"Channel": ["Security"], "EventID": ["4625"],
                          "TargetUserName": ["adm_x"], "Size": ["abc"]})
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        found_here = fm.hunt(frame, rules=rules,
                             where="Size > 5 OR TargetUserName = 'adm_x'")
    assert len(found_here) == 2
    said = [str(w.message) for w in seen if w.category is fm.FilterWarning]
    assert len(said) == 1 and "of 'Size' cannot be read as a number" in said[0]


def test_hunt_summary_is_evfilters(tmp_path, rules):
    import subprocess
    from conftest import _evfilter_path

    log = make_evtx(tmp_path / "Security.evtx", 600)
    found, _ = quiet_hunt([log], rules=rules)
    summary = fm.hunt_summary(found)
    done = subprocess.run([_evfilter_path(), "hunt", "--summary", "json",
                           "--rules", rules, log], capture_output=True,
                          text=True)
    expected = json.loads(done.stderr.strip().splitlines()[-1])
    assert list(summary.columns) == ["rule_id", "rule_title", "level",
                                     "detections"]
    assert summary.values.tolist() == [
        [r["id"], r["title"], r["level"], r["detections"]]
        for r in expected["rules"]]
    assert summary.attrs["detections"] == expected["detections"] > 0
    assert {k: v for k, v in summary.attrs["by_level"].items()
            if v or k != "none"} == expected["by_level"]
    assert summary.attrs["hosts"] == {h["host"]: h["detections"]
                                      for h in expected["hosts"]}
    for key in ("first", "last", "without_time"):
        assert summary.attrs[key] == expected[key], key
    # No detection: an empty frame, nothing first or last.
    none = fm.hunt_summary(found.iloc[0:0])
    assert none.empty and none.attrs["first"] is None
    assert none.attrs["detections"] == 0
    # Times ordered as evfilter orders them, not as text sorts: a time
    # with an offset, and one that is no time.
    frame = found.iloc[0:3].copy()
    frame["timestamp"] = ["2024-01-02T00:30:00+02:00",
                          "2024-01-01T23:00:00Z", "soon"]
    mixed = fm.hunt_summary(frame, utc=True)
    assert (mixed.attrs["first"], mixed.attrs["last"]) == (
        "2024-01-02T00:30:00+02:00", "2024-01-01T23:00:00Z")
    assert mixed.attrs["without_time"] == 1
    # Times a frame holds as datetimes are times too.
    frame["timestamp"] = pd.to_datetime(["2024-01-02T00:30:00+02:00",
                                         "2024-01-01T23:00:00Z", None],
                                        utc=True)
    dated = fm.hunt_summary(frame, utc=True)
    assert dated.attrs["without_time"] == 1
    assert dated.attrs["first"].startswith("2024-01-01T22:30:00")


def test_correlations_as_evfilter_runs_them(tmp_path, rules):
    import shutil

    # Two logs of one period, the longer first: an admin's failures (4625
    # every third minute, each user every fourth: every 12 minutes, in
    # both logs alike) correlate in time order across them, three within
    # 30 minutes, never within 10.
    logs = [make_evtx(tmp_path / "late.evtx", 400),
            make_evtx(tmp_path / "early.evtx", 200)]
    folder = tmp_path / "with_correlation"
    shutil.copytree(rules, folder)
    for span, expected_rows in (("30m", True), ("10m", False)):
        (folder / "c.yml").write_text(CORRELATION % span)
        found, warned = quiet_hunt(logs, rules=str(folder))
        lines = [json.loads(line) for line in evfilter(
            "hunt", "--rules", str(folder), *logs).splitlines()]
        want = [[d["rule_id"], d["group"], d["events"]] for d in lines
                if "correlation" in d]
        got = found[found["rule_id"] == "c1"]
        assert [[r, e["group"], e["events"]] for r, e in
                zip(got["rule_id"], got["event"])] == want
        assert bool(want) == expected_rows, span
        assert found.attrs["correlations"] == {"c1": len(want)}
        # The rule named is the correlation's own: no rows of it.
        assert "22222222-0000-0000-0000-000000000001" not in set(
            found["rule_id"])
        assert len(found) == len(lines)
        assert got["input"].isna().all() and got["record_id"].isna().all()
    assert want == [] and len(found) > 0
    (folder / "c.yml").write_text(CORRELATION % "30m")
    found, _ = quiet_hunt(logs, rules=str(folder))
    # The summary counts correlations apart from rules.
    summary = fm.hunt_summary(found)
    assert summary.attrs["correlations"] == {"c1": (found["rule_id"] ==
                                                    "c1").sum()}
    assert "c1" not in set(summary["rule_id"])
    # On a frame: the same correlations, record_id the row's number.
    framed, _ = quiet_hunt(fm.read_events(logs[1]), rules=str(folder))
    alone, _ = quiet_hunt([logs[1]], rules=str(folder))
    assert framed.attrs["correlations"] == alone.attrs["correlations"]
    # A correlation of a rule not chosen is said, and not run.
    _, warned = quiet_hunt(logs, rules=str(folder), exclude_ids=[
        "22222222-0000-0000-0000-000000000001"])
    assert any("which is not among the rules run" in str(w.message)
               for w in warned)
    # dask.hunt decides pieces apart: it says it does not run them.
    pytest.importorskip("dask")
    import filtermodule.dask as fmd
    with pytest.warns(fm.RuleWarning, match="1 correlation rule"):
        fmd.hunt(logs, rules=str(folder))


def test_hunt_on_a_frame_and_from_sigma(tmp_path, rules):
    log = make_evtx(tmp_path / "Security.evtx", 300)
    df = fm.read_events(log)
    found, _ = quiet_hunt(df, rules=rules)
    assert found["input"].isna().all()
    # Record numbers are the rows' 1-based numbers.
    assert found["record_id"].tolist() == [
        int(df.iloc[r - 1]["EventRecordID"]) for r in found["record_id"]]

    f = fm.Filter.from_sigma(REGEX)
    mask = f.mask(df)
    assert int(mask.sum()) == int(
        (found["rule_id"] == "22222222-0000-0000-0000-000000000002").sum())
    assert mask.sum() > 0
    assert pickle.loads(pickle.dumps(f)).mask(df).tolist() == mask.tolist()
    # The line the host decides says so.
    assert any(line.get("host") == "re: ^adm_" for line in f.lines)
    # From a file, too.
    path = tmp_path / "failed.yml"
    path.write_text(FAILED)
    assert fm.Filter.from_sigma(str(path)).mask(df).sum() > 0


ZEEK = """title: A Zeek rule
id: 22222222-0000-0000-0000-000000000004
level: high
logsource:
  product: zeek
  service: dns
detection:
  sel:
    Channel: Security
  condition: sel
"""


def test_rules_of_other_products_are_not_run(tmp_path):
    log = make_evtx(tmp_path / "Security.evtx", 50)
    df = fm.read_events(log)
    # A Windows log, by its kind or by its columns, meets no Zeek rule, as
    # in evfilter hunt.
    for given in ([log], df):
        found, _ = quiet_hunt(given, rules=ZEEK)
        assert len(found) == 0
        assert len(quiet_hunt(given, rules=ZEEK, product="ANY")[0]) == 50
    (tmp_path / "zeek.yml").write_text(ZEEK)
    assert evfilter("hunt", "--rules", str(tmp_path / "zeek.yml"), log) == ""
    assert len(quiet_hunt([log], rules=ZEEK, product="zeek")[0]) == 50
    with pytest.raises(ValueError, match="no rule names this product"):
        quiet_hunt([log], rules=ZEEK, product="windwos")
    # A rule asked for by name decides every row it is given.
    with pytest.warns(fm.RuleWarning, match="no mapping"):
        assert fm.Filter.from_sigma(ZEEK).mask(df).sum() == 50


def test_what_cannot_be_loaded_is_said(tmp_path, rules):
    with pytest.raises(ValueError, match="RE2"):
        fm.Filter.from_sigma(LOOKAROUND)
    with pytest.raises(ValueError, match="takes one"):
        fm.Filter.from_sigma(FAILED + "---\n" + REGEX)
    with pytest.raises(ValueError, match="takes one"):
        fm.Filter.from_sigma(FAILED + "---\n" + LOOKAROUND)
    stuck = tmp_path / "stuck.yml"
    stuck.write_text(",")
    with pytest.raises(fm.ReadError, match="outside a flow collection"):
        fm.Filter.from_sigma(str(stuck))
    (tmp_path / "rules" / "broken.yml").write_text("title: x\ndetection: [a\n")
    log = make_evtx(tmp_path / "Security.evtx", 10)
    with pytest.raises(fm.ReadError, match="broken.yml: not YAML"):
        fm.hunt([log], rules=rules)
    listed = fm.sigma_rules(rules)
    assert listed["load"].tolist().count("loaded") == 2
    assert any(load.startswith("unreadable: not YAML") for load in listed["load"])
    assert any(load.startswith("not supported: regular expression")
               for load in listed["load"])
    # A correlation is listed as loaded when the rules it names are there,
    # else said as evfilter hunt --list says it; Filter.from_sigma takes
    # none.
    (tmp_path / "rules" / "broken.yml").unlink()
    (tmp_path / "rules" / "c.yml").write_text(CORRELATION % "30m")
    listed = fm.sigma_rules(rules)
    assert listed[listed["id"] == "c1"]["load"].tolist() == ["loaded"]
    listed = fm.sigma_rules(CORRELATION % "30m")
    assert listed[["id", "load"]].values.tolist() == [[
        "c1", "not supported: the correlation names the rule "
        "22222222-0000-0000-0000-000000000001, which is not among the rules "
        "run"]]
    with pytest.raises(ValueError, match="decides no single row"):
        fm.Filter.from_sigma(CORRELATION % "30m")
    with pytest.raises(ValueError, match="2 rules; Filter.from_sigma takes"):
        fm.Filter.from_sigma(FAILED + "---\n" + CORRELATION % "30m")
    (tmp_path / "rules" / "c.yml").unlink()
    # Past the bound a rule is refused, as text or as a file, never read.
    huge = FAILED + "#" + "x" * (4 << 20) + "\n"
    with pytest.raises(fm.ReadError, match="larger than 4194304 bytes"):
        fm.Filter.from_sigma(huge)
    (tmp_path / "rules" / "huge.yml").write_text(huge)
    with pytest.raises(fm.ReadError, match="huge.yml: is larger than"):
        fm.hunt([log], rules=rules)


def test_dask_hunt_equals_hunt(tmp_path, rules):
    pytest.importorskip("dask")
    import filtermodule.dask as fmd

    logs = [make_evtx(tmp_path / "a.evtx", 3000),
            make_evtx(tmp_path / "b.evtx", 500)]
    local, _ = quiet_hunt(logs, rules=rules)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", fm.RuleWarning)
        ddf = fmd.hunt(logs, rules=rules)
    assert ddf.npartitions >= 2
    got = ddf.compute().reset_index(drop=True)
    assert got[["rule_id", "input", "record_id", "timestamp"]].values.tolist() \
        == local[["rule_id", "input", "record_id", "timestamp"]].values.tolist()
    # The summary of a Dask hunt is the summary of its computed frame.
    summary, expected = fm.hunt_summary(ddf), fm.hunt_summary(local)
    assert summary.values.tolist() == expected.values.tolist()
    assert summary.attrs == expected.attrs

    # With rules chosen and a site's filter, the same as hunt too.
    site = tmp_path / "mf_site.yml"
    site.write_text(FILTER % "22222222-0000-0000-0000-000000000001")
    options = dict(rules=rules, filters=site, tags=["attack.t1110"],
                   where="LogonType = '3'")
    local, _ = quiet_hunt(logs, **options)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", fm.RuleWarning)
        got = fmd.hunt(logs, **options).compute().reset_index(drop=True)
    assert 0 < len(got) == len(local)
    assert got[["rule_id", "record_id"]].values.tolist() == \
        local[["rule_id", "record_id"]].values.tolist()
    # A worker that cannot read the filters says so rather than hunt
    # unfiltered.
    from filtermodule.dask import _worker_core
    with pytest.raises(fm.ReadError, match="a worker could not read"):
        _worker_core(fm._rule_sources(rules), [str(tmp_path / "gone.yml")],
                     None, False, ([], ["x"]))


ZEEK_DNS = ("#separator \\x09\n#set_separator\t,\n#empty_field\t(empty)\n"
            "#unset_field\t-\n#path\tdns\n#fields\tts\tChannel\tquery\n"
            "#types\ttime\tstring\tstring\n"
            "1700000000.5\tSecurity\texample.org\n")


def test_hunt_of_text_exports_reads_as_evfilter_reads(tmp_path, rules):
    # A line that is no record is said and takes no record id; a nested
    # value comes back as json.loads makes it.
    events = tmp_path / "events.jsonl"
    lines = [{"EventID": 4625, "Channel": "Security", "TargetUserName": "adm_%d" % i,
              "LogonType": "2", "TimeCreated": "2026-12-0%dT10:00:00Z" % (i + 1),
              "Extra": {"k": [i]}} for i in range(3)]
    text = "\n".join(json.dumps(line) for line in lines)
    events.write_text(text.replace("\n", "\n{not json\n", 1) + "\n")
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        found = fm.hunt([str(events)], rules=rules)
    assert [str(w.message) for w in seen if w.category is fm.ReadWarning
            and "events.jsonl:2: not valid JSON" in str(w.message)]
    expected = [json.loads(line) for line in
                evfilter("hunt", "--rules", rules, str(events)).splitlines()]
    assert len(expected) == 6
    assert found[["rule_id", "record_id", "timestamp"]].values.tolist() == [
        [d["rule_id"], d["record_id"], d["timestamp"]] for d in expected]
    assert found.iloc[0]["event"]["Extra"] == {"k": [0]}
    assert found.iloc[0]["event"]["EventID"] == "4625"
    # A Zeek log is Zeek's by its #path, as evfilter takes it: the Zeek
    # rule runs on it, the Windows rules do not.
    dns = tmp_path / "dns.log"
    dns.write_text(ZEEK_DNS)
    zeek_rules = tmp_path / "zeek"
    zeek_rules.mkdir()
    (zeek_rules / "zeek.yml").write_text(ZEEK)
    (zeek_rules / "windows.yml").write_text(
        ZEEK.replace("zeek", "windows").replace("dns", "security")
        .replace("0004", "0005"))
    found, _ = quiet_hunt([str(dns)], rules=str(zeek_rules))
    assert found["rule_id"].tolist() == ["22222222-0000-0000-0000-000000000004"]
    # An input that cannot be read raises, naming it.
    with pytest.raises(fm.ReadError, match="cut.jsonl.gz"):
        cut = tmp_path / "cut.jsonl.gz"
        import gzip
        cut.write_bytes(gzip.compress(text.encode() * 200)[:300])
        quiet_hunt([str(cut)], rules=rules)
