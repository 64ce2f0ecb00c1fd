"""Windows event log files (.evtx) through read_events and Dask: the
records evfilter reads, damage reported as ReadWarning, and partitions cut
between chunks."""

import struct
import warnings
import zlib

import pytest

pd = pytest.importorskip("pandas")

import filtermodule as fm  # noqa: E402
from conftest import evfilter_count, make_evtx  # noqa: E402

HEADER = 4096
CHUNK = 65536


def read(path, **kwargs):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        df = fm.read_events(str(path), **kwargs)
    return df, [str(w.message) for w in seen if w.category is fm.ReadWarning]


def test_events_become_rows_as_evfilter_reads_them(tmp_path):
    log = make_evtx(tmp_path / "Security.evtx", 2000)
    df, warned = read(log)
    assert warned == []
    assert len(df) == 2000
    assert list(df.columns[:3]) == ["EventID", "Version", "Level"]
    assert df["EventRecordID"].tolist() == [str(i) for i in range(1, 2001)]
    first = df.iloc[0]
    assert first["TargetUserName"] == "adm_backup"
    assert first["TimeCreated"] == "2024-12-30T02:41:00.0000000Z"
    assert first["Provider_Name"] == "Microsoft-Windows-Security-Auditing"
    where = "EventID = 4625 AND TargetUserName LIKE 'adm%'"
    mask = fm.Filter(where=where).mask(df)
    assert int(mask.sum()) == evfilter_count(["--where", where], log)


def test_damage_is_reported_and_the_rest_read(tmp_path):
    path = tmp_path / "damaged.evtx"
    make_evtx(path, 2000)
    data = bytearray(path.read_bytes())
    data[HEADER + CHUNK + 600] ^= 0x55  # chunk 1's records: checksum fails
    data[120] |= 1  # not closed cleanly
    struct.pack_into("<I", data, 124, zlib.crc32(bytes(data[:120])))
    path.write_bytes(bytes(data))
    df, warned = read(path)
    assert any("not closed cleanly" in w for w in warned), warned
    # In a file that was not closed its checksums are no guide: chunk 1's
    # records are read while they decode (the byte broke its template, so
    # its records are each reported).
    assert len(df) > 1800
    assert any("damaged.evtx: chunk 1, record " in w for w in warned), warned
    data[120] &= ~1
    struct.pack_into("<I", data, 124, zlib.crc32(bytes(data[:120])))
    path.write_bytes(bytes(data))
    df, warned = read(path)
    assert any("damaged.evtx: chunk 1: the records' checksum does not match"
               in w for w in warned), warned
    assert 1000 < len(df) < 2000


def test_files_that_are_no_event_log_raise(tmp_path):
    empty = tmp_path / "empty.evtx"
    empty.write_bytes(b"")
    with pytest.raises(fm.ReadError, match="empty.evtx: empty file"):
        fm.read_events(str(empty))
    text = tmp_path / "text.evtx"
    text.write_text("EventID\n4624\n")
    with pytest.raises(fm.ReadError, match="not an EVTX file"):
        fm.read_events(str(text))


def test_dask_partitions_are_whole_chunks(tmp_path):
    pytest.importorskip("dask.dataframe")
    import filtermodule.dask as fmd

    log = make_evtx(tmp_path / "Sysmon.evtx", 3000, "sysmon")
    whole, _ = read(log)
    ddf = fmd.read_events(log, blocksize=2 * CHUNK)
    assert ddf.npartitions > 3
    got = ddf.compute().reset_index(drop=True)
    pd.testing.assert_frame_equal(got, whole[list(got.columns)])
    where = "Image LIKE '*powershell.exe'"
    hits = fmd.filter_frame(ddf, where=where).compute()
    assert len(hits) == evfilter_count(["--where", where], log) == 3000 // 7
