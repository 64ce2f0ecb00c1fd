"""Filter against evfilter on the sample data; the missing-value rule; errors;
threads."""

import os
import pickle
import threading
import warnings

import numpy as np
import pytest

pd = pytest.importorskip("pandas")

import filtermodule as fm  # noqa: E402
from conftest import EVENTS, FILTERS, evfilter, evfilter_count  # noqa: E402

WHERES = [
    "EventID = 4625 AND User LIKE 'adm%'",
    "EventID > 4600 AND EventID < 4700",
    "NOT EventID = 4624 OR Size > 2000",
    "Received = 2026-08-10",
    "Received > 8/15/2026 AND Time < 6:00",
    "Time > 22:15:00 OR Time < '1:00:00 AM'",
    "Process LIKE '*\\cmd.exe' AND NOT User LIKE 'svc_%'",
    "EXT_TAGS@severity = high",
    "Message CONTAINS 'logged' AND (Host LIKE 'SRV-%' OR Host LIKE 'ws%')",
    "Process = ''",
    "Status = FAILURE",
]


@pytest.mark.parametrize("path", FILTERS, ids=os.path.basename)
def test_definition_files_count_as_evfilter(path, events_text, events_typed):
    f = fm.Filter.from_file(path)
    expected = evfilter_count(["--filter", path], EVENTS)
    assert int(f.mask(events_text).sum()) == expected
    # pandas' own types (int64, NaN for an empty cell) decide the same rows.
    assert int(f.mask(events_typed).sum()) == expected
    # The module's text form: show's second line, after what the filter
    # does.
    module_line = evfilter("show", "--filter", path).splitlines()[1]
    assert module_line.startswith("module's text form: ")
    assert f.text == module_line[len("module's text form: "):].split("  (")[0]
    assert fm.Filter(lines=f.lines).lines == f.lines


@pytest.mark.parametrize("where", WHERES)
def test_expressions_count_as_evfilter(where, events_text, events_typed):
    f = fm.Filter(where=where)
    expected = evfilter_count(["--where", where], EVENTS)
    text_mask = f.mask(events_text)
    assert text_mask.dtype == np.bool_ and len(text_mask) == len(events_text)
    assert int(text_mask.sum()) == expected
    np.testing.assert_array_equal(f.mask(events_typed), text_mask)
    # One record at a time decides as the frame does.
    for i in range(0, len(events_typed), 997):
        record = events_typed.iloc[i].to_dict()
        assert f.match(record) == text_mask[i], (i, record)


def test_intervals_as_evfilter():
    for where in ["EventID > 4600 AND EventID < 4700",
                  "EventID = 4624 OR EventID = 4625 OR EventID > 7000",
                  "NOT EventID = 4624"]:
        expected = [tuple(int(x) for x in line.strip("[]").split(", "))
                    for line in evfilter("intervals", "--where", where,
                                         "EventID").splitlines()]
        assert fm.Filter(where=where).intervals("EventID") == expected
    assert fm.Filter(where="EventID = 4625").intervals("EventID") == [(4625, 4625)]


def test_types_override_and_pickle(events_text):
    f = fm.Filter(where="Size = 3589", types={"Size": "text"})
    assert f.lines[0]["type"] == "text"
    g = pickle.loads(pickle.dumps(f))
    assert g.lines == f.lines and g.text == f.text
    np.testing.assert_array_equal(g.mask(events_text), f.mask(events_text))


# ------------------------------------------------------------ missing values

def frame(**columns):
    return pd.DataFrame(columns)


def test_typed_condition_on_missing_value_is_false_before_not():
    df = frame(n=pd.Series([5, None, np.nan, 20, "", "  ", "abc", 15],
                           dtype=object))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        above = fm.Filter(where="n > 10").mask(df)
        not_above = fm.Filter(where="NOT n > 10").mask(df)
    assert above.tolist() == [False, False, False, True, False, False, False, True]
    assert not_above.tolist() == [True, True, True, False, True, True, True, False]
    # Only the value that is there and unreadable is reported, counted.
    reports = [str(w.message) for w in caught if w.category is fm.FilterWarning]
    assert len(reports) == 2 and all("1 value(s) of 'n'" in r and "'abc'" in r
                                     for r in reports)


def test_nan_nat_and_absent_columns():
    df = frame(n=[1.5, np.nan, 3.0],
               d=pd.to_datetime(["2026-12-03 22:15:00", None, "2026-12-04"]),
               s=["x", None, np.nan])
    assert fm.Filter(where="n > 1").mask(df).tolist() == [True, False, True]
    assert fm.Filter(where="NOT n > 1").mask(df).tolist() == [False, True, False]
    assert fm.Filter(where="d = 2026-12-03").mask(df).tolist() == [True, False, False]
    assert fm.Filter(where="d > 22:00").mask(df).tolist() == [True, False, False]
    assert fm.Filter(where="NOT d > 22:00").mask(df).tolist() == [False, True, True]
    # Text on a missing value sees empty text.
    assert fm.Filter(where="s = ''").mask(df).tolist() == [False, True, True]
    assert fm.Filter(where="NOT s LIKE 'x%'").mask(df).tolist() == [False, True, True]
    # A column the frame lacks: missing in every row, and said once.
    with pytest.warns(fm.FilterWarning, match="no column is named 'missing'"):
        assert fm.Filter(where="NOT missing > 1 AND n > 2").mask(df).tolist() == \
            [False, False, True]
    assert fm.Filter(where="n > 2").match({"other": 1}) is False
    assert fm.Filter(where="NOT n > 2").match({}) is True
    assert fm.Filter(where="n > 2").match({"n": None}) is False
    assert fm.Filter(where="n > 2").match({"N": 3}) is True  # any case, as evfilter


def test_column_types_read_as_evfilter_reads_their_text(tmp_path):
    values = {
        "big": [2**53 + 1, 2**53, -(2**40), 7],
        "fine": [0.1234567, 0.1234564, 1e300, -0.5],
        "flag": [True, False, True, False],
        "cat": pd.Categorical(["a", "b", "a", None]),
        "opt": pd.array([4625, None, 1, 2], dtype="Int64"),
        "when": pd.to_datetime(["2026-12-03T22:15:00.5", "1969-12-31 23:00",
                                None, "2026-01-01"]),
    }
    df = pd.DataFrame(values)
    path = tmp_path / "values.csv"
    df.to_csv(path, index=False, date_format="%Y-%m-%dT%H:%M:%S.%f")
    for where in ["big = 9007199254740993", "big > 9007199254740992",
                  "big < -1099511627775", "fine > 0.1234565",
                  "fine = 0.1234567", "fine > 1000000000000", "flag = TRUE",
                  "cat = a", "NOT cat LIKE 'a'", "opt = 4625", "NOT opt > 1",
                  "when = 2026-12-03", "when > 22:15:00", "NOT when > 1/1/1970"]:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", fm.FilterWarning)
            got = fm.Filter(where=where).mask(df)
        assert int(got.sum()) == evfilter_count(["--where", where], str(path)), where
    with pytest.warns(fm.FilterWarning, match="decided exactly"):
        assert fm.Filter(where="big = 9007199254740993").mask(df).tolist() == \
            [True, False, False, False]


def test_unreadable_values_raise_or_report():
    with pytest.raises(TypeError, match="row 1: cannot read a value of type set"):
        fm.Filter(where="x = 1").mask(frame(x=pd.Series([1, {2}], dtype=object)))
    with pytest.raises(TypeError, match="row 0: cannot read a value of type set"):
        fm.Filter(where="x.k = 1").mask(frame(x=pd.Series([{"k": {2}}], dtype=object)))
    with pytest.raises(TypeError, match="cannot read values"):
        fm.Filter(where="x = 1").mask(frame(x=pd.to_timedelta([1, 2], unit="s")))
    # Columns the filter does not read are not looked at.
    ok = frame(x=[1, 2], y=pd.Series([[1], {}], dtype=object))
    assert fm.Filter(where="x = 1").mask(ok).tolist() == [True, False]
    with pytest.raises(TypeError):
        fm.Filter(where="x = 1").mask({"x": [1]})
    with pytest.raises(TypeError):
        fm.Filter(where="x = 1").match([("x", 1)])
    assert fm.Filter(where="x = 1").mask(frame(x=[])).tolist() == []


# -------------------------------------------------------------------- errors

def test_bad_expressions_raise_value_error_with_column():
    for where, column in [("EventID = ", 11), ("EventID = 4625 AND", 19),
                          ("Size:weird = 1", 6), ("(EventID = 1", 13),
                          ("Received = 2/30/2026", 12)]:
        with pytest.raises(ValueError) as caught:
            fm.Filter(where=where)
        assert isinstance(caught.value, fm.ExpressionError)
        assert caught.value.column == column, (where, str(caught.value))
        assert "column %d" % column in str(caught.value)


def test_bad_arguments_and_definitions_raise():
    with pytest.raises(ValueError, match="unknown type 'weird'"):
        fm.Filter(where="Size = 1", types={"Size": "weird"})
    with pytest.raises(ValueError, match="exactly one"):
        fm.Filter(where="a = 1", lines=[{"field": "a"}])
    with pytest.raises(ValueError, match="exactly one"):
        fm.Filter()
    with pytest.raises(ValueError, match="not a number"):
        fm.Filter(lines=[{"field": "a", "value": "x", "type": "numeric"}])
    with pytest.raises(ValueError, match="never closed"):
        fm.Filter(lines=[{"field": "a", "open": 1}])
    with pytest.raises(TypeError):
        fm.Filter(lines="a = 1")
    with pytest.raises(FileNotFoundError):
        fm.Filter.from_file("/nonexistent/filter.json")


def test_module_build_errors_raise_never_a_partial_filter():
    # Lines the definition reader would refuse, given to the module directly.
    bad_date = (0, "d", 0, "13/45/2020", 2, 0, 0, False, False, "", False, False,
                0)
    unclosed = (1, "a", 0, "x", 1, 0, 0, False, False, "", False, False, 0)
    good = (0, "a", 0, "x", 1, 0, 0, False, False, "", False, False, 0)
    for lines in ([bad_date], [good, unclosed], [bad_date, good]):
        with pytest.raises(fm.BuildError, match="could not build"):
            fm.Filter._from_lines(lines, False)
    assert fm.Filter._from_lines([good], False).match({"a": "X"}) is True


# ------------------------------------------------------------------- threads

def test_threads_with_own_filters_and_a_shared_one(events_typed):
    big = pd.concat([events_typed] * 5, ignore_index=True)
    wheres = WHERES[:4]
    expected = {w: fm.Filter(where=w).mask(big) for w in wheres}
    shared = fm.Filter(where=wheres[0])
    results, errors = {}, []

    def run(key, f):
        try:
            for _ in range(3):
                results.setdefault(key, []).append(f.mask(big))
        except Exception as e:  # reported below
            errors.append(e)

    threads = [threading.Thread(target=run, args=(w, fm.Filter(where=w)))
               for w in wheres]
    threads += [threading.Thread(target=run, args=(("shared", i), shared))
                for i in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for key, masks in results.items():
        want = expected[key if isinstance(key, str) else wheres[0]]
        for m in masks:
            np.testing.assert_array_equal(m, want)


def test_mask_releases_the_gil():
    # An int64 frame is read in place, so nearly all of the mask's time is
    # the row loop; the main thread must keep running meanwhile. Conditions
    # that hold whenever the first does make the loop long enough to tell.
    import time
    df = frame(n=np.arange(4_000_000, dtype=np.int64) % 1000)
    f = fm.Filter(where="n > 500" + "".join(
        " AND n > %d AND n < %d" % (-k, 1000 + k) for k in range(6)))
    done = threading.Event()
    spans = []

    def run():
        start = time.perf_counter()
        spans.append(int(f.mask(df).sum()))
        spans.append(time.perf_counter() - start)
        done.set()

    thread = threading.Thread(target=run)
    last, longest = time.perf_counter(), 0.0
    thread.start()
    while not done.is_set():
        now = time.perf_counter()
        longest = max(longest, now - last)
        last = now
    thread.join()
    matched, took = spans
    assert matched == 4_000_000 // 1000 * 499
    if took < 0.2:
        pytest.skip("mask too quick (%.3f s) to tell" % took)
    assert longest < took / 2, (longest, took)


def test_match_names_the_field_it_cannot_read():
    with pytest.raises(TypeError, match="field 'b': cannot read a value of type set"):
        fm.Filter(where="b = 1").match({"a": 1, "b": {"x"}})
    f = fm.Filter(where="n > 1")
    with pytest.warns(fm.FilterWarning, match="cannot be read as a number"):
        assert f.match({"n": "many"}) is False


def test_instants_read_in_the_local_zone_or_utc(tmp_path):
    stamps = ["2026-12-02T00:30:00+01:00", "2026-12-01T23:30:00Z", None]
    texts = frame(when=stamps)
    aware = frame(when=pd.to_datetime(stamps, utc=True).tz_convert("Europe/Berlin"))
    path = tmp_path / "when.csv"
    texts.to_csv(path, index=False)
    for where in ["when = 2026-12-01", "when > 23:00", "NOT when < 1:00"]:
        for utc in (False, True):
            args = ["--where", where] + (["--utc"] if utc else [])
            expected = evfilter_count(args, str(path))
            f = fm.Filter(where=where, utc=utc)
            assert int(f.mask(texts).sum()) == expected, (where, utc)
            assert int(f.mask(aware).sum()) == expected, (where, utc)


def test_new_forms_decide_as_evfilter(tmp_path):
    df = pd.DataFrame({
        "Id": [4624, 4625, 4720, 4740, None],
        "T": ["2026-12-08T21:59:59", "2026-12-08T22:00:00",
              "2026-12-09T06:00:00", "2026-12-09T06:00:01", None],
        "User": ["alice", "Bob", "admin", "ADMIN2", None],
    })
    path = tmp_path / "forms.csv"
    df.to_csv(path, index=False)
    for where in ["Id IN (4624, 4720)", "Id NOT IN (4624, 4720)",
                  "Id BETWEEN 4625 AND 4720",
                  "T BETWEEN '2026-12-08 22:00' AND '2026-12-09 06:00'",
                  "NOT (Id = 4624 OR User = bob)",
                  "User MATCHES '^admin[0-9]*$'", "User NOT MATCHES 'o'"]:
        got = fm.Filter(where=where).mask(df)
        assert int(got.sum()) == evfilter_count(["--where", where], str(path)), where
    assert fm.Filter(where="User MATCHES '^admin'").mask(df).tolist() == \
        [False, False, True, True, False]
    # A MATCHES line survives the trip through pickling.
    f = pickle.loads(pickle.dumps(fm.Filter(where="User MATCHES 'b$'")))
    assert f.mask(df).tolist() == [False, True, False, False, False]
    with pytest.warns(fm.FilterWarning, match="evaluated left to right"):
        fm.Filter(where="Id = 1 OR Id = 2 AND User = x")
    with pytest.raises(fm.ExpressionError, match="IN \\(4624, 4625\\)"):
        fm.Filter(where="Id = 4624,4625")


def test_timestamps_compare_below_the_second(tmp_path):
    """In the boundary second a fraction decides, for texts and datetime64
    columns alike, as evfilter decides it."""
    stamps = ["2026-12-09T12:30:15.000", "2026-12-09T12:30:15.500",
              "2026-12-09T12:30:16", "2026-12-09T12:30:14.999", None]
    texts = pd.DataFrame({"t": stamps})
    typed = pd.DataFrame({"t": pd.to_datetime(stamps)})
    path = tmp_path / "stamps.csv"
    texts.to_csv(path, index=False)
    for where, want in [
            ("t > '2026-12-09 12:30:15'", [False, True, True, False, False]),
            ("t <= '2026-12-09 12:30:15'", [True, False, False, True, False]),
            ("t >= '2026-12-09T12:30:15.5'", [False, True, True, False, False]),
            ("t = '2026-12-09T12:30:15.5'", [False, True, False, False, False])]:
        f = fm.Filter(where=where, utc=True)
        assert f.mask(texts).tolist() == want, where
        assert f.mask(typed).tolist() == want, where
        # Pickled, as a Dask worker gets it, the fraction stays.
        assert pickle.loads(pickle.dumps(f)).mask(typed).tolist() == want, where
        assert evfilter_count(["--utc", "--where", where], str(path)) == sum(want)
