"""The mask reads dict and list cells as evfilter reads the JSON values of a
record: the value's own text for its column, dotted paths inside it."""

import json
import warnings

import numpy as np
import pytest

pd = pytest.importorskip("pandas")

import filtermodule as fm  # noqa: E402
from conftest import evfilter_count  # noqa: E402

RECORDS = [
    {"Event": {"System": {"EventID": 1, "Level": 4, "Provider": {"Name": "Sysmon"}},
               "EventData": {"Image": "C:\\Windows\\System32\\cmd.exe",
                             "Hashes": ["SHA1=AB", "MD5=CD"]}}},
    {"Event": {"System": {"EventID": 3, "Level": 2.5},
               "EventData": {"Image": "C:\\x\\evil.exe", "DestinationPort": "445"}}},
    {"Event": {"System": {"EventID": "1"}}, "a.b": 7, "a": {"b": 8}},
    {"Event": None, "MESSAGE": [70, 97, 105, 108], "Tags": ["x", {"y": 2}]},
    {"Event": {"System": {}}, "MESSAGE": "Failed password", "Tags": []},
    {"a": {"b": None}, "Event": [1, {"System": {"EventID": 1}}]},
    {"a": {"b": 9}},
    # The first way that reaches the path decides, null included.
    {"x": {"y": {"z": None}}, "x.y": {"z": 5}},
    {"x.y": {"z": 5}},
]
WHERES = [
    "Event.System.EventID = 1",
    "NOT Event.System.EventID = 1",
    "Event.System.Level > 3",
    "Event.System.Provider.Name = sysmon",
    "Event.EventData.Image LIKE '*\\cmd.exe'",
    "Event.EventData.Hashes.1 = 'MD5=CD'",
    "Event.EventData.Hashes CONTAINS 'SHA1'",
    "Event CONTAINS '\"EventID\":3'",
    "Event.System = ''",
    "a.b = 7",
    "a.b > 7",
    "MESSAGE CONTAINS '70,97'",
    "MESSAGE LIKE 'Failed*'",
    "Tags.1.y = 2",
    "Tags = '[]'",
    "Event.1.System.EventID = 1",
    "x.y.z = 5",
    "NOT x.y.z = 5",
]


@pytest.fixture(scope="module")
def jsonl(tmp_path_factory):
    path = tmp_path_factory.mktemp("json") / "records.jsonl"
    path.write_text("".join(json.dumps(r) + "\n" for r in RECORDS))
    return path


def frames(path):
    """The records as pandas reads them, and as read_events does."""
    yield pd.read_json(path, lines=True, dtype=False)
    yield fm.read_events(str(path))


@pytest.mark.parametrize("where", WHERES)
def test_paths_and_values_count_as_evfilter(jsonl, where):
    expected = evfilter_count(["--where", where], str(jsonl))
    f = fm.Filter(where=where)
    for df in frames(jsonl):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", fm.FilterWarning)
            assert int(f.mask(df).sum()) == expected, where
            assert f.mask(df).tolist() == f._core.mask_by_text(
                len(df), *_prepared(df, f))[0].tolist(), where
    for record, matched in zip(RECORDS, _rows(jsonl, where)):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", fm.FilterWarning)
            assert f.match(record) == matched, (where, record)


def _prepared(df, f):
    from filtermodule import _columns

    return _columns(df, f._core)


def _rows(path, where):
    """evfilter's answer for each record of the file."""
    out = []
    for line in path.read_text().splitlines():
        one = path.with_name("one.jsonl")
        one.write_text(line + "\n")
        out.append(evfilter_count(["--where", where], str(one)) == 1)
    return out


def test_a_path_no_value_holds_is_reported():
    df = pd.DataFrame({"Event": [{"System": {"EventID": 1}}, None]})
    with pytest.warns(fm.FilterWarning,
                      match="'Event.System.Nope': no value of the column"):
        assert fm.Filter(where="NOT Event.System.Nope = 1").mask(df).tolist() == \
            [True, True]
    with pytest.warns(fm.FilterWarning, match="no column is named 'Other.x'"):
        fm.Filter(where="Other.x = 1").mask(df)


def test_arrays_are_checked_before_they_are_read():
    f = fm.Filter(where="Event.x = 1")
    with pytest.raises(ValueError, match="column 'Event': expected an object array"):
        f._core.mask(2, ["Event"], ["text"], [np.zeros(2)])


def test_values_that_are_no_json_raise_naming_the_place():
    loop = []
    loop.append(loop)
    df = pd.DataFrame({"x": pd.Series([[1], loop], dtype=object)})
    with pytest.raises(TypeError, match="column 'x', row 1: cannot read a value "
                                        "nested deeper than 256 levels"):
        fm.Filter(where="x = 1").mask(df)
    df = pd.DataFrame({"x": pd.Series([{(1, 2): 3}], dtype=object)})
    with pytest.raises(TypeError, match="a dict with a key of type tuple"):
        fm.Filter(where="x.k = 1").mask(df)
    with pytest.raises(TypeError, match="field 'x': cannot read a value of type set"):
        fm.Filter(where="x = 1").match({"x": [{1}]})


def test_python_values_inside_are_read_as_their_json():
    df = pd.DataFrame({"v": pd.Series([
        {"n": np.nan, "t": (1, "a"), "k": {3: True}, "big": 2**64 - 1},
        {"n": 1.0, "d": pd.Timestamp("2026-12-08 22:00")},
    ], dtype=object)})
    f = fm.Filter(where="v.n = 1")
    assert f.mask(df).tolist() == [False, True]
    assert fm.Filter(where="v.t.1 = a").mask(df).tolist() == [True, False]
    assert fm.Filter(where="v.k.3 = true").mask(df).tolist() == [True, False]
    assert fm.Filter(where="v.d > 21:00").mask(df).tolist() == [False, True]
    assert fm.Filter(where="v CONTAINS '\"n\":null'").mask(df).tolist() == \
        [True, False]
    assert fm.Filter(where="v.big = 18446744073709551615").mask(df).tolist() == \
        [True, False]
    # The JSON readers refuse integers beyond 64 bits; so does the mask.
    df = pd.DataFrame({"v": pd.Series([{"big": 2**64}], dtype=object)})
    with pytest.raises(TypeError, match="column 'v', row 0: cannot read an "
                                        "integer beyond 64 bits"):
        fm.Filter(where="v.big = 1").mask(df)
