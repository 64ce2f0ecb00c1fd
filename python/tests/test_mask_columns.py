"""Filter.mask on typed columns against the per-row text path it replaced.

mask reads each distinct value of a column once and serves the rows from
those readings; mask_by_text renders every cell as the text a file would
hold and reads it row by row, as evfilter does. On random frames of every
column kind the two must give the same rows, the same notes (counts, first
row, first cell) and the same missing fields.
"""

import datetime
import random
import warnings

import numpy as np
import pytest

pd = pytest.importorskip("pandas")

import filtermodule as fm  # noqa: E402
from conftest import evfilter_count  # noqa: E402

# Cell objects for object columns: texts each reader takes, blanks, texts
# no typed reader takes, numbers beyond 32 bits and beyond exact doubles,
# and Python objects of every kind the extension reads, JSON-like values
# included.
OBJECTS = [
    "4625", " 12 ", "-3", "", "  ", "abc", "2026-08-10", "8/15/2026 3:04:05 PM",
    "22:15:00", "5:59:59", "9007199254740993", "4294967296", "0.1234567",
    "2.5", "1e3", "ADMIN.smith", "adm", "svc_x", "C:\\x\\cmd.exe",
    "@severity@high~severity~@logon@net~logon~", "1700000000",
    "2026-12-03T22:15:00+01:00", None, np.nan, 7, 2**40, -(2**63), 2.5, 0.1,
    True, False, pd.Timestamp("2026-08-10 23:30:00"),
    datetime.date(2026, 1, 1), pd.NaT, pd.NA,
    {"k": [1, 2.5, "adm"], "n": None}, [70, 97], (), {},
]
FIELDS = ["i", "big", "f", "b", "d", "o", "o", "o2", "I", "O",
          "REL_EXT_TAGS", "EXT_TAGS", "EXT_TAGS@severity", "REL_EXT_TAGS@source"]
VALUES = {
    "numeric": ["0", "12", "-3", "4625", "2.5", "0.1234565", "0.1234567",
                "4294967296", "9007199254740992", "9007199254740993"],
    "text": ["''", "adm%", "'*5*'", "abc", "4625", "'*cmd.exe'", "high", "T%"],
    "date": ["2026-08-10", "1/1/1970", "12/31/2099", "2026-12-03"],
    "time": ["22:00", "6:00:00", "23:30:00", "0:00:01"],
}
OPERATORS = {
    "numeric": ["=", "!=", "<", ">", "<=", ">=", "LIKE", "CONTAINS"],
    "text": ["=", "LIKE", "CONTAINS", "<", ">"],
    "date": ["=", "<", ">", "IN"],
    "time": ["=", "<", ">", "!="],
}
PERIODS = ["TODAY", "LAST 30 CALENDAR DAYS", "'THIS MONTH'", "'LAST MONTH'"]


def random_frame(rng, rows, shared=True):
    """A frame of every column kind; `shared` False gives each object cell
    an object of its own (equal texts, separate str objects)."""
    def obj(value):
        if not shared and isinstance(value, str):
            return "".join(list(value)) if value else str("x")[:0]
        return value

    def pick(pool):
        return [obj(rng.choice(pool)) for _ in range(rows)]

    small = np.array([rng.choice([-5, 0, 12, 4624, 4625, 2**31 - 1, -2**31])
                      for _ in range(rows)], dtype=np.int64)
    big = np.array([rng.choice([1, 4625, 2**31, -2**31 - 1, 2**53 + 1, 2**62,
                                1700000000, 1700000000000])
                    for _ in range(rows)], dtype=np.int64)
    floats = np.array([rng.choice([np.nan, 4625.0, -0.0, 0.0, 0.1234567, 2.5,
                                   1e20, 1e-7, -3.0, 9007199254740993.0])
                       for _ in range(rows)], dtype=np.float64)
    stamps = pd.to_datetime(pick(["2026-08-10 03:11:21", "1969-12-31 23:00",
                                  None, "2026-12-03 22:15:00.5",
                                  "2026-08-10"]))
    tags = pick(["@severity@high~severity~", "@severity@low~severity~", "",
                 None, "@source@ws~source~"])
    return pd.DataFrame({
        "i": small, "big": big, "f": floats,
        "b": np.array([rng.random() < 0.5 for _ in range(rows)]),
        "d": stamps, "o": pd.Series(pick(OBJECTS), dtype=object),
        "EXT_TAGS": pd.Series(tags, dtype=object),
        # Mostly empty: a text condition on REL_EXT_TAGS then reads EXT_TAGS.
        "rel_ext_tags": pd.Series([t if rng.random() < 0.3 else None
                                   for t in pick(tags)], dtype=object),
        # Another object column whose name differs only in case from a
        # field the filters name.
        "O_": pd.Series(pick(OBJECTS[:12]), dtype=object),
    }).rename(columns={"O_": "o2"})


def random_where(rng):
    terms = []
    for k in range(rng.randint(1, 4)):
        field = rng.choice(FIELDS) if rng.random() < 0.95 else "missing"
        ftype = rng.choice(list(VALUES))
        op = rng.choice(OPERATORS[ftype])
        value = rng.choice(PERIODS) if op == "IN" else rng.choice(VALUES[ftype])
        term = "%s%s:%s %s %s" % ("NOT " if rng.random() < 0.2 else "", field,
                                  ftype, op, value)
        if k:
            terms.append(rng.choice(["AND", "OR", "AND NOT", "OR NOT"]))
        terms.append(term)
    if len(terms) >= 3 and rng.random() < 0.3:
        terms[0] = "(" + terms[0]
        terms[2] = terms[2] + ")"
    return " ".join(terms)


def both_ways(where, df):
    """(mask, notes, missing) from the typed path and from the text path,
    each on a filter of its own (numbers carry state from row to row)."""
    typed, text = fm.Filter(where=where), fm.Filter(where=where)
    names, kinds, arrays = fm._columns(df, typed._core)
    return (typed._core.mask(len(df), names, kinds, arrays),
            text._core.mask_by_text(len(df), names, kinds, arrays))


def assert_same(where, df):
    (got, got_notes, got_missing), (want, want_notes, want_missing) = \
        both_ways(where, df)
    assert got.tolist() == want.tolist(), where
    assert got_notes == want_notes, where
    assert got_missing == want_missing, where
    return got, got_notes


def test_random_frames_and_filters_decide_as_the_text_path():
    rng = random.Random(1717)
    compiled = 0
    for round_ in range(8):
        df = random_frame(rng, [0, 1, 7, 300, 2000, 2000, 300, 2000][round_],
                          shared=round_ % 2 == 0)
        for _ in range(60):
            where = random_where(rng)
            try:
                fm.Filter(where=where)
            except (ValueError, fm.BuildError):
                continue  # a value that does not fit its type
            compiled += 1
            assert_same(where, df)
    assert compiled > 200


def test_shared_object_decides_and_counts_as_distinct_equal_objects():
    rows = 5000
    shared = ["abc", "12", "9007199254740993", None, "2026-08-10"]
    one = pd.DataFrame({"n": pd.Series([shared[r % 5] for r in range(rows)],
                                       dtype=object)})
    # Equal texts, each cell its own str object.
    own = pd.DataFrame({"n": pd.Series(
        ["".join(list(shared[r % 5])) if shared[r % 5] else None
         for r in range(rows)], dtype=object)})
    assert one.n[0] is one.n[5] and own.n[0] is not own.n[5]
    for where in ["n > 11", "NOT n = 9007199254740992", "n:date = 2026-08-10",
                  "n LIKE '1*'"]:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", fm.FilterWarning)
            a = fm.Filter(where=where).mask(one)
            b = fm.Filter(where=where).mask(own)
        assert a.tolist() == b.tolist(), where
        assert_same(where, one)
        assert_same(where, own)
    # Every row of a shared unreadable text is counted (two texts here),
    # from the first.
    _, notes = assert_same("n > 11", one)
    assert ("n", "unreadable", "a number", 2 * rows // 5, 0, "abc") in notes
    assert ("n", "inexact", "a number", rows // 5, 2,
            "9007199254740993") in notes


def test_numbers_beyond_32_bits_in_an_int64_column(tmp_path):
    # Fits 32 bits: served in place; one value beyond: every value read.
    for values in ([5, -2**31, 2**31 - 1, 0], [5, 2**31, 2**53 + 1, -2**63]):
        df = pd.DataFrame({"n": np.array(values * 50, dtype=np.int64)})
        path = tmp_path / "n.csv"
        df.to_csv(path, index=False)
        for where in ["n > 4", "n = 2147483648", "n = 9007199254740993",
                      "NOT n < 0", "n LIKE '2*'", "n:date = 1970-01-01"]:
            got, _ = assert_same(where, df)
            assert int(got.sum()) == evfilter_count(["--where", where],
                                                    str(path)), (values, where)


def test_zero_fill_carries_from_row_to_row_in_row_order():
    # A numeric LIKE compares the number zero-filled to the longest seen so
    # far: the same value can match early and not later.
    df = pd.DataFrame({"n": np.array([5, 5, 12345, 5, 5], dtype=np.int64)})
    got, _ = assert_same("n:numeric LIKE '5'", df)
    assert got.tolist()[:2] == [True, True]


def test_errors_name_the_column_and_row():
    df = pd.DataFrame({"x": pd.Series(["a", "a", {"b"}, "a"], dtype=object)})
    with pytest.raises(TypeError, match="column 'x', row 2: cannot read a "
                                        "value of type set"):
        fm.Filter(where="x = a").mask(df)
    # A shared object that cannot be read is named at its first row.
    bad = {"k"}
    df = pd.DataFrame({"x": pd.Series(["a", bad, "a", bad], dtype=object)})
    with pytest.raises(TypeError, match="row 1: cannot read a value of type set"):
        fm.Filter(where="x = a").mask(df)


def test_more_forced_patterns_than_the_variant_cache_holds():
    # Each pattern of missing fields needs a filter variant; past 4096 the
    # cache starts again, so variants are destroyed and built again in the
    # middle of the mask. Rows after that must still decide alike.
    rng = np.random.default_rng(7)
    rows, fields = 6000, 13
    df = pd.DataFrame({
        "a%d" % i: np.where(rng.random(rows) < 0.5, np.nan,
                            rng.integers(-3, 4, rows).astype(float))
        for i in range(fields)})
    patterns = {tuple(r) for r in np.isnan(df.to_numpy())}
    assert len(patterns) > 4096
    where = " AND ".join("NOT a%d > 1" % i for i in range(fields))
    got, _ = assert_same(where, df)
    assert 0 < got.sum() < rows
