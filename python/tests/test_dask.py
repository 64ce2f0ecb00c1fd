"""Dask: read_events and filter_frame on a real two-process cluster, counted
against evfilter over the same files and a pandas mask over their union."""

import gzip
import json
import os
import shutil
import warnings

import pytest

pd = pytest.importorskip("pandas")
pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

import filtermodule as fm  # noqa: E402
import filtermodule.dask as fmd  # noqa: E402
from conftest import EVENTS, FILTERS, evfilter_count  # noqa: E402

WHERES = ["EventID = 4625 AND User LIKE 'adm%'", "NOT Size > 2000",
          "Time > 22:00 OR Received < 2026-08-12"]
FILES = 20


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1,
                                       processes=True, dashboard_address=None)
    with distributed.Client(cluster) as c:
        yield c
    cluster.close()


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    """The sample split into 20 files: half of them gzip-compressed for
    read_events (evfilter reads their plain twins), and as JSON Lines."""
    root = tmp_path_factory.mktemp("events")
    df = pd.read_csv(EVENTS, dtype=str, keep_default_na=False)
    # Some cells blank and some keys absent, so missing values travel too.
    df.loc[df.index % 13 == 0, "Size"] = ""
    plain, mixed, jsonl = [], [], []
    for i in range(FILES):
        part = df.iloc[i::FILES]
        path = root / ("part%02d.csv" % i)
        part.to_csv(path, index=False)
        plain.append(str(path))
        if i % 2:
            with open(path, "rb") as src, gzip.open(str(path) + ".gz", "wb") as dst:
                shutil.copyfileobj(src, dst)
            mixed.append(str(path) + ".gz")
        else:
            mixed.append(str(path))
        jpath = root / ("part%02d.jsonl" % i)
        with open(jpath, "w", encoding="utf-8") as out:
            for record in part.to_dict("records"):
                if record["Size"] == "":
                    del record["Size"]
                elif int(record["EventID"]) % 2:
                    record["Size"] = int(record["Size"])
                out.write(json.dumps(record) + "\n")
        jsonl.append(str(jpath))
    return {"plain": plain, "mixed": mixed, "jsonl": jsonl, "frame": df}


def test_cluster_counts_equal_evfilter_and_pandas(client, inputs):
    csv = fmd.read_events(inputs["mixed"])
    lines = fmd.read_events(inputs["jsonl"], columns=list(inputs["frame"].columns))
    assert csv.npartitions == FILES and lines.npartitions == FILES
    union = pd.concat([pd.read_csv(p, dtype=str, keep_default_na=False)
                       for p in inputs["plain"]], ignore_index=True)
    cases = [(["--where", w], fm.Filter(where=w)) for w in WHERES]
    cases += [(["--filter", p], fm.Filter.from_file(p)) for p in FILTERS]
    for args, f in cases:
        expected = evfilter_count(args, *inputs["plain"])
        assert int(f.mask(union).sum()) == expected, args
        assert len(fmd.filter_frame(csv, filter=f).compute()) == expected, args
        assert len(fmd.filter_frame(lines, lines=f.lines).compute()) == expected, args
    assert len(client.scheduler_info()["workers"]) == 2


def test_filter_frame_keeps_rows_and_raises_early(client, inputs):
    csv = fmd.read_events(inputs["plain"][:3])
    where = "EventID = 4624"
    got = fmd.filter_frame(csv, where=where).compute()
    assert set(got["EventID"]) == {"4624"}
    mask = fmd.mask_frame(csv, where=where).compute()
    assert int(mask.sum()) == len(got)
    with pytest.raises(ValueError) as caught:
        fmd.filter_frame(csv, where="EventID = ")
    assert caught.value.column == 11
    with pytest.raises(ValueError, match="format"):
        fmd.read_events(inputs["plain"][0], format="xml")
    with pytest.raises(FileNotFoundError):
        fmd.read_events("/nonexistent/*.csv")


def test_jsonl_columns_are_every_key_and_nested_values_python(tmp_path):
    path = tmp_path / "odd.jsonl"
    path.write_text('{"a": 1}\n{"a": 2, "b": true}\n{"a": [1, 2.50], "b": {"c": null}}\n')
    got = fmd.read_events(str(path)).compute(scheduler="sync")
    assert list(got.columns) == ["a", "b"]
    assert got["b"].tolist() == [None, "true", {"c": None}]
    assert got["a"].tolist() == ["1", "2", [1, 2.5]]
    # Columns named: every key of the inputs must be among them.
    with pytest.raises(fm.ReadError, match="besides those given"):
        fmd.read_events(str(path), columns=["a"])
    got = fmd.read_events(str(path), columns=["b", "a", "z"]).compute(scheduler="sync")
    assert list(got.columns) == ["b", "a", "z"]
    assert got["z"].tolist() == [None, None, None]


def test_jsonl_values_read_as_evfilter_reads_them(tmp_path):
    path = tmp_path / "values.jsonl"
    path.write_text(
        '{"n": 9007199254740993, "d": "2026-12-03", "t": "22:15:00", "s": "x"}\n'
        '{"n": 1.10, "d": null, "t": "bad", "s": null}\n'
        '{"n": "7", "d": "12/4/2026", "t": "10:00 PM"}\n'
        '{"n": 0.1234567, "d": "2026-12-05T23:30:00", "t": "", "s": true}\n')
    gz = tmp_path / "values.jsonl.gz"
    gz.write_bytes(gzip.compress(path.read_bytes()))
    for where in ["n = 9007199254740993", "n > 9007199254740992", "n = 1.1",
                  "n > 0.1234566", "n < 8", "d = 2026-12-03", "d > 2026-12-03",
                  "NOT d > 2026-12-03", "t > 21:00", "NOT t > 21:00",
                  "s = ''", "s = true"]:
        expected = evfilter_count(["--where", where], str(path))
        f = fm.Filter(where=where)
        for p in (path, gz):
            ddf = fmd.read_events(str(p), columns=["n", "d", "t", "s"])
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", fm.FilterWarning)
                got = len(fmd.filter_frame(ddf, filter=f).compute(scheduler="sync"))
            assert got == expected, (where, p)


def test_workers_read_the_files_and_build_one_filter_per_partition(
        inputs, monkeypatch):
    # The graph the client sends names the files; their bytes are read
    # where the tasks run.
    import cloudpickle

    total = sum(os.path.getsize(p) for p in inputs["mixed"])
    for ddf in (fmd.read_events(inputs["mixed"]),
                fmd.read_events(inputs["jsonl"],
                                columns=list(inputs["frame"].columns))):
        graph = dict(fmd.filter_frame(ddf, where="EventID = 4625")
                     .__dask_graph__())
        assert len(cloudpickle.dumps(graph)) < total / 20
    builds = []
    real = fm.Filter._from_lines.__func__

    def counted(cls, line_tuples, utc):
        builds.append(1)
        return real(cls, line_tuples, utc)

    monkeypatch.setattr(fm.Filter, "_from_lines", classmethod(counted))
    ddf = fmd.read_events(inputs["plain"])
    fmd.filter_frame(ddf, where="EventID = 4625").compute(scheduler="sync")
    assert len(builds) == ddf.npartitions
