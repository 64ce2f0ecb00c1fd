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

read_events reads event files through the same readers as evfilter and
filtermodule.read_events, so a partition holds exactly the records and
cells evfilter reads. A plain CSV, TSV or JSON Lines file is divided into
partitions of about `blocksize` bytes at record boundaries: a quoted CSV
cell may hold line breaks, so the boundaries are found by reading each
file once where read_events is called. That pass also finds the columns (a
JSON Lines file's keys vary from record to record) and reports what
evfilter would report of the records; an input that cannot be read whole
raises ReadError there, before any work is sent. A Windows event log
(.evtx) is divided between its 64 KiB chunks. Compressed files, JSON
arrays and event logs that wrap round are one partition each.

Dask starts its workers with MALLOC_TRIM_THRESHOLD_=65536, which makes each
partition fault its memory in afresh; docs/SCALING.md gives the allocator
thresholds that made reading about 3.5 times faster on the project's
machine.

hunt runs Sigma rules over event files as filtermodule.hunt does, a task
per file (a Windows event log per piece of its chunks), and gives the
detections in input order, then rule id. The workers read the rule files
from the same paths.

Thread safety: every partition builds its own Filter (and its own rules),
so Dask's worker threads never share one.
"""

import json
import warnings

import pandas as pd

from . import Filter, ReadError, RuleWarning, _core


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


def read_events(paths, format=None, columns=None, blocksize="64MB",
                encoding=None):
    """A Dask DataFrame of the records of event files, read as evfilter reads them.

    `paths` is a path, a glob or a list of them; `format` and `encoding` as
    for filtermodule.read_events. The columns are those of every input in the
    order they appear, unless `columns` names them (then a record with a
    key outside them raises ReadError here). Every cell is as
    filtermodule.read_events gives it: str, dict or list, None where a
    record lacks it."""
    import dask.dataframe as dd
    from dask.utils import parse_bytes

    from . import _expand, _report

    piece_bytes = parse_bytes(blocksize) if isinstance(blocksize, str) else int(blocksize)
    if piece_bytes <= 0:
        raise ValueError("blocksize must be positive")
    pieces, found = [], []
    for path in _expand(paths):
        plan = _core.divide_input(path, format or "", piece_bytes,
                                  encoding or "")
        _report(plan["reports"])
        found.extend(c for c in plan["columns"] if c not in found)
        if plan["divided"]:
            pieces.extend((path, plan["format"], p, encoding or "")
                          for p in plan["pieces"])
        else:
            pieces.append((path, plan["format"], None, encoding or ""))
    if columns is None:
        columns = found
    else:
        columns = [str(c) for c in columns]
        outside = [c for c in found if c not in columns]
        if outside:
            raise ReadError("the inputs have columns %s besides those given; "
                            "name them all in columns=" % (outside,))
    meta = pd.DataFrame({c: pd.Series([], dtype=object) for c in columns})
    return dd.from_map(_read_piece, pieces, columns=columns, meta=meta,
                       enforce_metadata=False)


def _read_piece(piece, columns):
    from . import _frame

    path, format, part, encoding = piece
    read = _core.read_frame(path, format, columns, part, encoding)
    # What the records hold was reported when the inputs were divided.
    df = _frame([(read["columns"], read["arrays"], read["rows"])], pd, columns)
    if read["paths"]:
        df.attrs["field_paths"] = dict(read["paths"])
    return df


def hunt(paths, rules, placeholders=None, min_level=None, status=None,
         utc=False, format=None, encoding=None, product=None, ids=None,
         tags=None, exclude_ids=None, exclude_file=None, filters=None,
         since=None, until=None, where=None):
    """A Dask DataFrame of the detections of Sigma `rules` in event files,
    with the columns of filtermodule.hunt, in input order, then rule id.

    The rules are loaded where hunt is called (so a rule file that cannot
    be read raises there, and rules that are not supported are warned of
    there); each worker loads them again from the same paths (or text) and
    raises ReadError if it does not find the same rules. A Windows event log is
    divided between its chunks (record_id is the EventRecordID); any other
    input is one task, so that record_id counts its records. `product` and
    the choice of rules (min_level to exclude_file) and `filters` are
    filtermodule.hunt's; the rules are chosen where hunt is called, and
    each worker applies the same filters. `since`, `until` and `where` are
    filtermodule.hunt's too, checked where hunt is called."""
    import dask.dataframe as dd

    from . import (_DETECTION_COLUMNS, _checked_product, _chosen, _expand,
                   _filter_paths, _report_rules, _rule_sources, _scope,
                   _sigma_core, _use_filters)

    sources = _rule_sources(rules)
    filters = _filter_paths(filters)
    core = _sigma_core(*sources, placeholders, utc)
    _use_filters(core, filters)
    _report_rules(core)
    chosen = _chosen(core, (min_level, status, ids, tags, exclude_ids,
                            exclude_file))
    product = _checked_product(core.loaded, product)
    scope = _scope(core, since, until, where)
    if core.correlations:
        # Each task sees a piece; a correlation needs every detection.
        warnings.warn("%d correlation rule(s) not run: dask.hunt decides each "
                      "piece apart (filtermodule.hunt and evfilter hunt run "
                      "them); the rules they name give their own detections"
                      % len(core.correlations), RuleWarning, stacklevel=2)
    # The workers load the same rules and filters, and check that they did.
    expected = ([m["id"] for m in core.loaded],
                [m["id"] for m in core.filters])
    tasks = []
    for path in _expand(paths):
        # An input whose records carry their ids (an event log) keeps them
        # in pieces; another's record_id counts records from its start.
        kind = _core.input_format(path, format or "")
        if kind["own_record_ids"]:
            plan = _core.divide_input(path, kind["name"], 64 << 20, "")
            if plan["divided"]:
                tasks.extend((path, p, sources, filters, expected,
                              placeholders, chosen, utc, plan["format"], "",
                              product, scope)
                             for p in plan["pieces"])
                continue
        tasks.append((path, None, sources, filters, expected, placeholders,
                      chosen, utc, format, encoding, product, scope))
    meta = pd.DataFrame({c: pd.Series([], dtype="int64" if c == "record_id"
                                      else object)
                         for c in _DETECTION_COLUMNS})
    return dd.from_map(_hunt_task, tasks, meta=meta, enforce_metadata=False)


# The rules a worker process has loaded, by what they were loaded from: a
# worker loads each rule set once, not once per task.
_worker_rules = {}


def _worker_core(sources, filters, placeholders, utc, expected):
    from . import _sigma_core, _use_filters

    key = json.dumps([sources, filters, placeholders, utc], sort_keys=True)
    core = _worker_rules.get(key)
    if core is None:
        core = _sigma_core(*sources, placeholders, utc)
        _use_filters(core, filters, warn=False)  # said where hunt was called
        unreadable = [r for r in core.rejected if r["unreadable"]]
        if unreadable:
            raise ReadError("a worker could not read %s: %s" %
                            (unreadable[0]["file"], unreadable[0]["reason"]))
        loaded = ([m["id"] for m in core.loaded],
                  [m["id"] for m in core.filters])
        if loaded != tuple(expected):
            raise ReadError("a worker loaded %d rule(s) and %d filter(s) "
                            "from %s, where hunt was called %d and %d: the "
                            "rule and filter files must be the same there" %
                            (len(loaded[0]), len(loaded[1]),
                             sources[0] or "the text", len(expected[0]),
                             len(expected[1])))
        _worker_rules.clear()  # one rule set at a time
        _worker_rules[key] = core
    return core


def _hunt_task(task):
    from . import _DETECTION_COLUMNS, _file_detections

    path, piece, sources, filters, expected, placeholders, chosen, utc, \
        format, encoding, product, scope = task
    # The same rules as where hunt was called (checked), so the same choice.
    core = _worker_core(sources, filters, placeholders, utc, expected)
    with warnings.catch_warnings():
        # Said once, where hunt was called.
        warnings.simplefilter("ignore", RuleWarning)
        rows = _file_detections(core, core.loaded, chosen, path,
                                format, piece, encoding, product, scope)
    return pd.DataFrame(rows, columns=_DETECTION_COLUMNS)

