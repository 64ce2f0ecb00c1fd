"""Filters over Dask DataFrames, on one machine or a cluster.

    import filtermodule.dask as fmd
    ddf = fmd.read_events(["day1.csv.gz", "day2.jsonl"])
    hits = fmd.filter_frame(ddf, where="EventID = 4625 AND User LIKE 'adm%'")
    hits.compute()

filter_frame builds the filter once where it is called (so a bad expression
or a module error raises there, before any work is sent), and then ships it
to the workers as its lines; each partition builds its own filter and keeps
the rows of its mask. Nothing here schedules: Dask does, on whatever client
is current (a distributed.Client, or Dask's local threads).

read_events reads CSV and JSON Lines files, gzip-compressed or not, into
columns of texts (None for a value a record lacks or holds null), so that
the filter's column reader applies evfilter's cell readers to every value,
exactly as evfilter reads the same files.

Reading CSV into pandas is most of the work. Dask starts its workers with
MALLOC_TRIM_THRESHOLD_=65536, which makes each partition fault its memory
in afresh; docs/SCALING.md gives the allocator thresholds that made
reading about 3.5 times faster on the project's machine.

Thread safety: every partition builds its own Filter, so Dask's worker
threads never share one.
"""

import gzip
import json

import pandas as pd

from . import Filter


def filter_frame(ddf, where=None, types=None, lines=None, filter=None, utc=False):
    """The rows of the Dask DataFrame `ddf` that the filter matches.

    The filter is given as for Filter (where=/types=, lines=) or as a
    Filter (filter=)."""
    if filter is None:
        filter = Filter(where=where, types=types, lines=lines, utc=utc)
    elif where is not None or lines is not None or types is not None:
        raise ValueError("give either filter= or where=/lines=, not both")
    # As JSON text: a list argument could be taken for a task by Dask.
    return ddf.map_partitions(_filter_partition, _pack(filter),
                              meta=ddf._meta)


def mask_frame(ddf, where=None, types=None, lines=None, filter=None, utc=False):
    """A Dask Series of bools, one per row of `ddf`: does the row match."""
    if filter is None:
        filter = Filter(where=where, types=types, lines=lines, utc=utc)
    return ddf.map_partitions(_mask_partition, _pack(filter),
                              meta=pd.Series([], dtype=bool))


def _pack(filter):
    """The filter as it travels to the workers: its lines, as JSON."""
    return json.dumps({"lines": filter._core.lines, "utc": filter._core.utc})


def _partition_filter(packed_filter):
    packed = json.loads(packed_filter)
    return Filter._from_lines([tuple(line) for line in packed["lines"]],
                              packed["utc"])


def _filter_partition(pdf, packed_filter):
    return pdf[_partition_filter(packed_filter).mask(pdf)]


def _mask_partition(pdf, packed_filter):
    return pd.Series(_partition_filter(packed_filter).mask(pdf),
                     index=pdf.index)


def _format_of(path, format):
    if format is not None:
        if format not in ("csv", "jsonl"):
            raise ValueError("format must be 'csv' or 'jsonl', not %r" % (format,))
        return format
    name = str(path).lower()
    if name.endswith(".gz"):
        name = name[:-3]
    if name.endswith((".jsonl", ".ndjson", ".json")):
        return "jsonl"
    if name.endswith((".csv", ".txt")):
        return "csv"
    raise ValueError("cannot tell the format of %r; pass format='csv' or 'jsonl'"
                     % (str(path),))


def read_events(paths, format=None, columns=None, blocksize="64MB"):
    """A Dask DataFrame of the records of CSV / JSON Lines files.

    `paths` is a path, a glob or a list; the format comes from the name
    (.csv, .jsonl, .ndjson, .json, each optionally .gz) unless `format`
    says it. Every value is a text. All files must be of one format. For
    JSON Lines the columns are the keys of the first file's records unless
    `columns` names them; a record with a key outside them raises rather
    than losing it."""
    import dask.dataframe as dd
    from fsspec.core import get_fs_token_paths

    if isinstance(paths, (str, bytes)) or not hasattr(paths, "__iter__"):
        paths = [paths]
    expanded = []
    for p in paths:
        _, _, found = get_fs_token_paths(str(p))
        if not found:
            raise FileNotFoundError("no file matches %r" % (str(p),))
        expanded.extend(found)
    formats = {_format_of(p, format) for p in expanded}
    if len(formats) != 1:
        raise ValueError("files of both formats; read them separately")
    if formats.pop() == "csv":
        # Texts as they are: no NA words, an empty cell stays "" (blank),
        # a cell a short row lacks is missing. Dask infers one compression
        # for a whole list, so runs of plain and gzip files are read apart
        # (in order) and joined.
        runs = []
        for p in expanded:
            gz = _is_gzip(p)
            if runs and runs[-1][0] == gz:
                runs[-1][1].append(p)
            else:
                runs.append((gz, [p]))
        frames = [dd.read_csv(files, dtype=str, na_filter=False,
                              keep_default_na=False,
                              compression="gzip" if gz else None,
                              blocksize=None if gz else blocksize)
                  for gz, files in runs]
        return frames[0] if len(frames) == 1 else dd.concat(frames)
    if columns is None:
        columns = _first_keys(expanded[0])
    columns = [str(c) for c in columns]
    meta = pd.DataFrame({c: pd.Series([], dtype=object) for c in columns})
    return dd.from_map(_read_jsonl, expanded, columns=columns, meta=meta,
                       enforce_metadata=False)


def _is_gzip(path):
    with open(path, "rb") as f:
        return f.read(2) == b"\x1f\x8b"


def _open(path):
    if _is_gzip(path):
        return gzip.open(path, "rt", encoding="utf-8")
    return open(path, "rt", encoding="utf-8")


def _cell(value):
    """A JSON value as the text a CSV cell would hold; None for null."""
    if value is None or isinstance(value, str):
        return value
    if value is True:
        return "true"
    if value is False:
        return "false"
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def _records(path):
    with _open(path) as f:
        for number, line in enumerate(f, 1):
            if not line.strip():
                continue
            try:
                # Numbers keep their written digits (exactness is decided
                # from the text, as for a CSV cell).
                record = json.loads(line, parse_float=str, parse_int=str,
                                    parse_constant=str)
            except json.JSONDecodeError as e:
                raise ValueError("%s:%d: not a JSON record: %s" % (path, number, e))
            if not isinstance(record, dict):
                raise ValueError("%s:%d: not a JSON object" % (path, number))
            if any(isinstance(v, (list, dict)) for v in record.values()):
                # Nested values as their JSON text, numbers as numbers.
                plain = json.loads(line)
                record = {k: v if not isinstance(v, (list, dict)) else
                          json.dumps(plain[k], ensure_ascii=False,
                                     separators=(",", ":"))
                          for k, v in record.items()}
            yield number, record


def _first_keys(path):
    for _, record in _records(path):
        return list(record)
    raise ValueError("%s: no record to take the columns from; pass columns=" % path)


def _read_jsonl(path, columns):
    known = set(columns)
    data = {c: [] for c in columns}
    for number, record in _records(path):
        extra = [k for k in record if k not in known]
        if extra:
            raise ValueError("%s:%d: key(s) %s are not among the columns %s; pass "
                             "columns= naming them all" % (path, number, extra, columns))
        for c in columns:
            data[c].append(_cell(record.get(c)))
    return pd.DataFrame({c: pd.Series(v, dtype=object) for c, v in data.items()})
