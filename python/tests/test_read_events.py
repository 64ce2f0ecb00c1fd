"""read_events reads files through evfilter's readers: the same records and
cells, the same reports, and an error rather than a frame that silently
lacks records."""

import gzip
import json
import warnings

import pytest

pd = pytest.importorskip("pandas")

import filtermodule as fm  # noqa: E402
from filtermodule import _core  # noqa: E402
from conftest import evfilter, evfilter_count  # noqa: E402

# Windows PowerShell's Export-Csv: byte-order mark, #TYPE line, quoted
# header, CRLF, a multi-line message with quotes and commas inside.
POWERSHELL = (
    "\ufeff#TYPE System.Diagnostics.EventLogEntry\r\n"
    '"EventID","Message","User"\r\n'
    '"4625","An account failed to log on.\r\n\r\nReason: ""bad"", 2","admin"\r\n'
    '"4624","ok","bob"\r\n')


def read(path, **kwargs):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        df = fm.read_events(str(path), **kwargs)
    return df, [str(w.message) for w in seen if w.category is fm.ReadWarning]


@pytest.mark.parametrize("name,content,columns,rows", [
    ("ps.csv", POWERSHELL, ["EventID", "Message", "User"],
     [["4625", "An account failed to log on.\r\n\r\nReason: \"bad\", 2", "admin"],
      ["4624", "ok", "bob"]]),
    ("t.tsv", "a\tb\nx\\ty\t\\\\n\n\t\n", ["a", "b"], [["x\ty", "\\n"], ["", ""]]),
    ("arr.json", '[\n {"a": 1, "b": "x"},\n {"b": null, "c": true}\n]\n',
     ["a", "b", "c"], [["1", "x", None], [None, None, "true"]]),
    ("n.jsonl", '{"a": {"b": [1, 2.5, "x"]}}\n\n{"a": 3}\n', ["a"],
     [[{"b": [1, 2.5, "x"]}], ["3"]]),
])
def test_formats_read_as_evfilter_reads_them(tmp_path, name, content, columns, rows):
    path = tmp_path / name
    path.write_bytes(content.encode("utf-8"))
    for p in (path, tmp_path / (name + ".gz")):
        if p.suffix == ".gz":
            p.write_bytes(gzip.compress(path.read_bytes()))
        df, reports = read(p)
        assert list(df.columns) == columns
        assert df.values.tolist() == rows
        assert reports == []
        assert len(df) == evfilter_count(["--where", "x:text = '' OR NOT x:text = ''"],
                                         str(p))


def test_duplicate_headers_are_renamed_and_said(tmp_path):
    path = tmp_path / "dup.csv"
    path.write_text("a,a,a_2,a\n1,2,3,4\n")
    df, reports = read(path)
    assert list(df.columns) == ["a", "a_3", "a_2", "a_4"]
    assert reports == ["%s: duplicate column names: 'a' renamed 'a_3', "
                       "'a' renamed 'a_4'" % path]


def test_records_not_read_as_they_stand_are_reported(tmp_path):
    path = tmp_path / "bad.jsonl"
    lines = ['{"n": %d}' % i if i % 2 else "{broken" for i in range(30)]
    path.write_text("\n".join(lines) + "\n")
    df, reports = read(path)
    assert df["n"].tolist() == [str(i) for i in range(1, 30, 2)]
    # The first ten as evfilter words them, then how many more.
    cli = [line for line in evfilter("match", "--where", "n > 0", str(path))
           .splitlines()]
    assert len(reports) == 11
    assert reports[0].startswith("%s:1: not valid JSON" % path)
    assert reports[0].endswith("; line skipped")
    assert reports[-1] == "5 more unreadable line report(s)"
    assert len(cli) == 15
    ragged = tmp_path / "ragged.csv"
    ragged.write_text("a,b\n1\n1,2,3\n")
    df, reports = read(ragged)
    assert df.values.tolist() == [["1", None], ["1", "2"]]
    assert reports == [
        "%s:2: 1 cell(s) where the header has 2; read as far as it goes" % ragged,
        "%s:3: 3 cell(s) where the header has 2; read as far as it goes" % ragged]


@pytest.mark.parametrize("name,content,message", [
    ("open.csv", 'a,b\n1,"never\nclosed\n', r"open\.csv:2: a quoted field opened on "
                                             r"this line never closes"),
    ("arr.json", '[{"a": 1} {"a": 2}]', r"arr\.json:1: '{' where ',' or"),
    ("empty.csv", "", r"empty\.csv: the CSV input is empty"),
    ("bin.csv", "a\0b", r"bin\.csv: is a binary file"),
    ("ps16.csv", "\ufeffId\n1\n".encode("utf-16-le").decode("latin-1"),
     r"ps16\.csv: is UTF-16 text"),
])
def test_inputs_that_cannot_be_read_whole_raise(tmp_path, name, content, message):
    path = tmp_path / name
    path.write_bytes(content.encode("latin-1") if name == "ps16.csv"
                     else content.encode("utf-8"))
    with pytest.raises(fm.ReadError, match=message):
        fm.read_events(str(path))


def test_missing_files_corrupt_gzip_and_bad_arguments(tmp_path):
    with pytest.raises(FileNotFoundError):
        fm.read_events(str(tmp_path / "none.csv"))
    with pytest.raises(FileNotFoundError, match="no file matches"):
        fm.read_events(str(tmp_path / "*.csv"))
    with pytest.raises(FileNotFoundError, match="no event file in the folder"):
        fm.read_events(str(tmp_path))
    broken = tmp_path / "cut.csv.gz"
    broken.write_bytes(gzip.compress(b"a\n" + b"1\n" * 100000)[:-30])
    with pytest.raises(fm.ReadError, match=r"cut\.csv\.gz: the gzip stream ends early"):
        fm.read_events(str(broken))
    with pytest.raises(ValueError, match="unknown format 'xml'"):
        fm.read_events(str(broken), format="xml")


def test_several_inputs_and_globs_give_one_frame(tmp_path):
    (tmp_path / "1.csv").write_text("a,b\n1,2\n")
    (tmp_path / "2.jsonl").write_text('{"c": 3, "a": 4}\n')
    (tmp_path / "3.tsv").write_text("b\n5\n")
    df, _ = read(tmp_path / "*")
    assert list(df.columns) == ["a", "b", "c"]
    assert df.values.tolist() == [["1", "2", None], ["4", None, "3"],
                                  [None, "5", None]]
    both = fm.read_events([tmp_path / "3.tsv", str(tmp_path / "1.csv")])
    assert both.values.tolist() == [["5", None], ["2", "1"]]
    # ** reaches every depth, and a folder is read as evfilter reads it:
    # its event files below it in the order of their paths, the others said.
    deep = tmp_path / "logs" / "a" / "b"
    deep.mkdir(parents=True)
    (deep / "4.csv").write_text("a\n6\n")
    (tmp_path / "logs" / "notes.txt").write_text("not an event file")
    assert fm.read_events(str(tmp_path / "**" / "4.csv")).values.tolist() == \
        [["6"]]
    with pytest.warns(fm.ReadWarning, match="1 file\\(s\\) not read"):
        folder = fm.read_events(tmp_path / "logs")
    assert folder.values.tolist() == [["6"]]


def test_bytes_that_are_no_utf8_and_records_without_columns(tmp_path):
    latin = tmp_path / "latin.csv"
    latin.write_bytes(b"Benutzer,Gr\xf6\xdfe\nJ\xf6rg,5\nJ\xfcrg,6\n")
    df, said = read(latin)
    # Names read with U+FFFD; cells keep each byte apart (surrogateescape),
    # counted per column.
    assert list(df.columns) == ["Benutzer", "Gr\ufffd\ufffde"]
    assert df.values.tolist() == [["J\udcf6rg", "5"], ["J\udcfcrg", "6"]]
    assert any("column 'Benutzer': 2 value(s) are not valid UTF-8 (first at "
               in s and "latin.csv:2: 'J\\xF6rg'" in s for s in said), said
    # The mask compares the bytes as evfilter does: each one character, no
    # U+FFFD among them, and the two rows apart.
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        assert fm.Filter("Benutzer LIKE 'J?rg'").mask(df).tolist() == [True,
                                                                     True]
    assert [str(w.message) for w in seen] == [
        "2 value(s) of 'Benutzer' hold bytes that are no UTF-8, as surrogate "
        r"escapes (first at row 0: 'J\\xF6rg'); each such byte was compared "
        "as a character of its own"]
    assert not fm.Filter("Benutzer = 'J\ufffdrg'").mask(df).any()
    assert (fm.Filter("Benutzer = x").mask(df.iloc[[0, 0]]).tolist()
            == [False, False])
    assert len(df.drop_duplicates()) == 2
    # Read as the Latin-1 export it is.
    df, said = read(latin, encoding="latin1")
    assert list(df.columns) == ["Benutzer", "Gr\xf6\xdfe"]
    assert df.values.tolist() == [["J\xf6rg", "5"], ["J\xfcrg", "6"]]
    assert fm.Filter("Benutzer = 'Jörg'").mask(df).tolist() == [True, False]
    with pytest.raises(ValueError, match="unknown encoding 'ebcdic'"):
        fm.read_events(str(latin), encoding="ebcdic")
    # Dask reads the same, the columns found by the division included.
    pytest.importorskip("dask.dataframe")
    import filtermodule.dask as fmd
    assert fmd.read_events(str(latin), blocksize=4).compute(
        scheduler="sync").values.tolist() == [["J\udcf6rg", "5"],
                                              ["J\udcfcrg", "6"]]
    assert fmd.read_events(str(latin), blocksize=4, encoding="cp1252").compute(
        scheduler="sync").values.tolist() == [["J\xf6rg", "5"],
                                              ["J\xfcrg", "6"]]
    bad = tmp_path / "bad.csv"
    bad.write_bytes(b"a\n\"\xff\n")
    with pytest.raises(fm.ReadError, match="bad.csv:2: a quoted field"):
        fm.read_events(str(bad))
    empty = tmp_path / "empty.jsonl"
    empty.write_text("{}\n{}\n")
    df, _ = read(empty)
    assert len(df) == 2 == evfilter_count(["--where", "NOT a = 1"], str(empty))
    both = fm.read_events([str(empty), str(latin)])
    assert len(both) == 4


def test_keys_outside_the_columns_given_raise(tmp_path):
    path = tmp_path / "k.jsonl"
    path.write_text('{"a": 1}\n{"b": 2}\n')
    with pytest.raises(fm.ReadError, match="k.jsonl:2: key 'b' is not among"):
        _core.read_frame(str(path), "", ["a"])
    assert _core.read_frame(str(path), "", ["a", "b"])["rows"] == 2


def test_equal_texts_share_one_object(tmp_path):
    path = tmp_path / "same.csv"
    path.write_text("a\n" + "x\n" * 1000)
    df = fm.read_events(str(path))
    assert len({id(v) for v in df["a"]}) == 1


def test_pieces_read_as_the_whole_does(tmp_path):
    # Records with quoted line breaks; every cut must fall between records.
    path = tmp_path / "multi.csv"
    rows = ['%d,"a\n%d,b",%s' % (i, i + 1, "x" * (i % 7)) for i in range(500)]
    path.write_bytes(("\ufeff#TYPE T\nn,m,o\n" + "\n".join(rows)).encode())
    whole = _core.read_frame(str(path), "")
    plan = _core.divide_input(str(path), "", 1000)
    assert plan["divided"] and len(plan["pieces"]) > 5
    parts = [_core.read_frame(str(path), "csv", None, p) for p in plan["pieces"]]
    for i, column in enumerate(whole["columns"]):
        joined = [v for part in parts for v in part["arrays"][i]]
        assert joined == list(whole["arrays"][i]), column
    # A NUL byte past the first 64 KiB: the whole reads, and so do pieces.
    nul = tmp_path / "nul.csv"
    nul.write_bytes(b"a,b\n" + b"x,y\n" * 30000 + b"x\0z,y\n" + b"x,y\n" * 10)
    plan = _core.divide_input(str(nul), "", 4096)
    parts = [_core.read_frame(str(nul), "csv", None, p) for p in plan["pieces"]]
    assert sum(p["rows"] for p in parts) == _core.read_frame(str(nul), "")["rows"]
    # A piece's lines count from the file's start.
    bad = tmp_path / "late.jsonl"
    bad.write_text("".join('{"n": %d}\n' % i for i in range(200)) + "oops\n")
    plan = _core.divide_input(str(bad), "", 500)
    last = _core.read_frame(str(bad), "jsonl", ["n"], plan["pieces"][-1])
    [(kind, count, shown)] = last["reports"]
    assert shown[0].startswith("%s:201: not valid JSON" % bad)
    assert plan["reports"] == last["reports"]


def test_json_values_become_python_values(tmp_path):
    path = tmp_path / "v.jsonl"
    record = {"s": "x", "i": 12345678901234, "f": 2.5, "t": True, "z": None,
              "o": {"k": [1, -2.75, "y", {"m": None}], "u": 18446744073709551615}}
    path.write_text(json.dumps(record) + "\n")
    df = fm.read_events(str(path))
    row = df.iloc[0].to_dict()
    assert row == {"s": "x", "i": "12345678901234", "f": "2.5", "t": "true",
                   "z": None, "o": record["o"]}


ZEEK_DNS = (
    "#separator \\x09\n#set_separator\t,\n#empty_field\t(empty)\n"
    "#unset_field\t-\n#path\tdns\n#fields\tts\ttrans_id\tid.resp_p\n"
    "#types\ttime\tstring\tport\n"
    "1796767200.5\t00042\t53\n1796767201.5\t42\t5353\n"
    "#close\t2026-12-08-23-00-00\n")


@pytest.mark.parametrize("where, types, expected", [
    # A string field is text, though its values look like numbers.
    ("trans_id = 42", None, [False, True]),
    ("trans_id:numeric = 42", None, [True, True]),
    ("trans_id = 42", {"trans_id": "numeric"}, [True, True]),
    ("`id.resp_p` > 100", None, [False, True]),
])
def test_zeek_types_decide_as_evfilter(tmp_path, where, types, expected):
    path = tmp_path / "dns.log"
    path.write_text(ZEEK_DNS)
    df, warned = read(path)
    assert warned == []
    assert df.attrs["field_types"] == {"trans_id": "text", "id.resp_p": "numeric"}
    mask = fm.Filter(where=where, types=types).mask(df)
    assert list(mask) == expected
    args = ["--type", "%s=%s" % next(iter(types.items()))] if types else []
    assert evfilter_count(["--where", where, *args], str(path)) == sum(expected)
    # A frame without declared types keeps the expression's own.
    plain = df.copy()
    plain.attrs = {}
    assert list(fm.Filter(where="trans_id = 42").mask(plain)) == [True, True]


def read_many(paths):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        df = fm.read_events(paths)
    return df, [str(w.message) for w in seen if w.category is fm.ReadWarning]


def test_zeek_types_of_several_inputs_are_those_they_share(tmp_path):
    a = tmp_path / "a.log"
    a.write_text(ZEEK_DNS)
    b = tmp_path / "b.log"
    b.write_text(ZEEK_DNS.replace("port", "count"))
    df, warned = read_many([str(a), str(b)])
    # id.resp_p is port in one and count in the other: both numeric.
    assert df.attrs["field_types"] == {"trans_id": "text", "id.resp_p": "numeric"}
    c = tmp_path / "c.log"
    c.write_text(ZEEK_DNS.replace("\tstring\tport", "\tcount\tport"))
    df, warned = read_many([str(a), str(c)])
    assert df.attrs["field_types"] == {"id.resp_p": "numeric"}
    assert any("'trans_id' is declared text" in w for w in warned)
    csv = tmp_path / "d.csv"
    csv.write_text("trans_id\n42\n")
    df, warned = read_many([str(a), str(csv)])
    assert "field_types" not in df.attrs
    assert any("declare no field types" in w for w in warned)
