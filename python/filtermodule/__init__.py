"""The filter module for Python: read event files and decide their records as evfilter does.

    import filtermodule
    df = filtermodule.read_events("Security.csv")   # a pandas DataFrame
    f = filtermodule.Filter(where="EventID = 4625 AND User LIKE 'adm%'")
    mask = f.mask(df)            # numpy bool array, one per row
    f.match({"EventID": 4625, "User": "admin"})
    f.intervals("EventID")       # [(4625, 4625)]

read_events reads CSV, TSV, JSON Lines and JSON arrays, plain or
gzip-compressed, through the same readers as evfilter: every record and
cell evfilter reads from a file, and no other. A cell is the str evfilter
reads (a JSON number or boolean as its text), a JSON object or array a
dict or list, a cell a record lacks None. Records
evfilter reports (lines that are no record, ragged rows) are reported with
a ``ReadWarning``; an input that cannot be read whole raises ``ReadError``
(a ValueError naming the file and line).

A Filter is compiled by evfilter's expression compiler (``where``, with
``types`` naming field types the values do not show), or made from the line
objects of a definition file (``lines``, ``Filter.from_file``). The module
builds it whole or the constructor raises: ``ExpressionError`` (a
ValueError with the 1-based ``column`` of the mistake), ValueError for a bad
definition, ``BuildError`` when the module reports an error while building.

Values are read as evfilter reads the cells of a file: a typed (numeric,
date, time) condition on a value that is absent, None, NaN, NaT, blank or
unreadable as its type is false before its NOT; a text condition on a
missing value sees empty text; numbers the module cannot carry exactly are
decided exactly. A dict, list or tuple is read as the cell of that JSON
value, and a dotted field reaches into the columns named by its parts
before a dot ("Event.System.EventID" on an "Event" column of dicts), as
evfilter reaches into a JSON record. numpy's scalars (``np.int64``,
``np.float32``, ``np.bool_``...) and ``Decimal`` in an object column are
read as the values they show. A text that holds a NUL character is
unreadable (the module would read it only up to the NUL). Values that are
there but unreadable, or inexact, and
fields no column has are reported with a ``FilterWarning`` (counted per
field), never silently. Ctrl-C interrupts a long ``mask`` within a few
milliseconds with ``KeyboardInterrupt``.

Thread safety: ``mask`` releases the GIL while rows are decided, so threads
with their own Filters run at once. A Filter is used by one thread at a
time; calls on one Filter from several threads take turns (a lock).
Filters pickle as their lines, so they travel to other processes.
"""

import json
import os
import time
import warnings

import numpy as np

from . import _core

__all__ = ["Filter", "SigmaFilter", "read_events", "hunt", "hunt_summary",
           "sigma_rules", "ExpressionError", "BuildError", "ReadError", "FilterWarning",
           "ReadWarning", "RuleWarning"]
__version__ = _core.__version__

ExpressionError = _core.ExpressionError
BuildError = _core.BuildError
ReadError = _core.ReadError
for _error in (ExpressionError, BuildError, ReadError):
    _error.__module__ = __name__


class FilterWarning(UserWarning):
    """Values a filter could not read as asked, or fields no column has."""


class ReadWarning(UserWarning):
    """Records of an input that were not read as they stand."""


class RuleWarning(UserWarning):
    """Sigma rules that were not loaded, or that run on every event."""


# The module's log goes to a private folder removed at exit, or to
# FILTERMODULE_LOG_FOLDER. Its trace level (FILTERMODULE_DEBUG_LOG=1) holds
# the filter's text form but also writes a line for every matching row, and
# the level is fixed for the process when the log opens; so by default the
# log stays at errors and the text form comes from a helper process.
_DEBUG_LOG = os.environ.get("FILTERMODULE_DEBUG_LOG", "") == "1"
_core.setup_log(os.environ.get("FILTERMODULE_LOG_FOLDER", ""), _DEBUG_LOG)


class Filter:
    """A filter built whole by the module. See the module's documentation."""

    def __init__(self, where=None, types=None, lines=None, utc=False):
        if (where is None) == (lines is None):
            raise ValueError("give exactly one of where= and lines=")
        if where is not None:
            if not isinstance(where, str):
                raise TypeError("where must be a str")
            if types is not None and not isinstance(types, dict):
                raise TypeError("types must be a dict of field -> type name")
            # Relative periods are fixed now, also when a frame's declared
            # field types compile the expression again (mask).
            self._where = (where, dict(types or {}), bool(utc), int(time.time()))
            self._retyped = {}
            line_tuples, notes = _core.compile_where(
                where, self._where[1], bool(utc), now=self._where[3])
            for note in notes:
                warnings.warn(note, FilterWarning, stacklevel=2)
        else:
            if types is not None:
                raise ValueError("types= goes with where=, not lines=")
            if isinstance(lines, (str, bytes)) or not hasattr(lines, "__iter__"):
                raise TypeError("lines must be a list of line objects (dicts)")
            line_tuples = _core.parse_definition(json.dumps({"lines": list(lines)}))
        self._core = _core.Filter(line_tuples, bool(utc))

    @classmethod
    def from_file(cls, path, utc=False):
        """The filter of a definition file ({"lines": [...]})."""
        with open(path, encoding="utf-8") as f:
            text = f.read()
        return cls._from_lines(_core.parse_definition(text), utc)

    @classmethod
    def _from_lines(cls, line_tuples, utc):
        self = cls.__new__(cls)
        self._core = _core.Filter(line_tuples, bool(utc))
        return self

    # Pickled as its lines (every field, exactly); rebuilt where it lands.
    def __reduce__(self):
        return (Filter._from_lines, (self._core.lines, self._core.utc))

    @property
    def text(self):
        """The module's text form of the filter."""
        if self._core.text or _DEBUG_LOG:
            return self._core.text
        if getattr(self, "_text", None) is None:
            self._text = _text_form(self._core.lines, self._core.utc)
        return self._text

    @property
    def lines(self):
        """The condition lines, as the line objects of a definition file."""
        return json.loads(_core.definition_json(self._core.lines))["lines"]

    def intervals(self, field):
        """The intervals of `field` values at which a row can match."""
        return [tuple(x) for x in self._core.intervals(str(field))]

    def match(self, record):
        """True when the record (a dict of field -> value) matches."""
        if not isinstance(record, dict):
            raise TypeError("record must be a dict")
        names = [str(k) for k in record]
        values = np.empty(len(record), dtype=object)
        for i, v in enumerate(record.values()):
            values[i] = v
        # A record lacking a field is no news: records differ.
        matched, notes, _ = self._core.match(names, values)
        _warn(notes, [])
        return matched

    def mask(self, df):
        """One bool per row of the pandas DataFrame: does the row match.

        A frame that ``read_events`` read from a Zeek log carries the log's
        field types (``df.attrs["field_types"]``); a filter made from
        ``where=`` uses them, as evfilter does, for the fields ``types=``
        and ``Field:type`` leave open."""
        core = self._core_for(df)
        names, kinds, arrays = _columns(df, core)
        result, notes, missing = core.mask(len(df), names, kinds, arrays)
        _warn(notes, missing, list(df.columns))
        return result

    def _core_for(self, df):
        """The filter for `df`: compiled again with its declared types."""
        declared = getattr(df, "attrs", {}).get("field_types")
        where = getattr(self, "_where", None)
        if not declared or where is None:
            return self._core
        key = tuple(sorted(declared.items()))
        if key not in self._retyped:
            text, types, utc, now = where
            line_tuples, _ = _core.compile_where(
                text, types, utc, declared=list(key), now=now)
            same = line_tuples == self._core.lines
            self._retyped[key] = self._core if same else _core.Filter(line_tuples, utc)
        return self._retyped[key]

    @classmethod
    def from_sigma(cls, path_or_text, placeholders=None, utc=False):
        """The filter of one Sigma rule: a file's path, or the rule's YAML
        text. Its ``mask`` decides a frame's rows as ``evfilter hunt``
        decides records; see ``SigmaFilter``."""
        return SigmaFilter(path_or_text, placeholders, utc)

    def __repr__(self):
        return "Filter(%r)" % self.text


class SigmaFilter:
    """One Sigma rule over pandas frames (``Filter.from_sigma``).

    The rule is compiled to condition lines that the module decides; the
    conditions the module cannot express (re, cidr, cased, fieldref,
    exists, null, keywords) are decided per row by the host and handed to
    the module as forced conditions. A rule that cannot be compiled exactly
    raises ValueError with the reason; a file holding several rules is for
    ``hunt``. Pickles as the rule's text."""

    def __init__(self, path_or_text, placeholders=None, utc=False):
        self._source = (path_or_text, placeholders, bool(utc))
        self._core = _sigma_core(*_rule_sources(path_or_text), placeholders,
                                 utc)
        rejected = self._core.rejected
        unreadable = [r for r in rejected if r["unreadable"]]
        if unreadable:
            raise ReadError("%s: %s" % (unreadable[0]["file"],
                                        unreadable[0]["reason"]))
        count = len(self._core) + len(rejected) + len(self._core.correlations)
        if count > 1:
            raise ValueError("%d rules; Filter.from_sigma takes one, hunt "
                             "takes many" % count)
        if self._core.correlations:
            raise ValueError("a correlation rule decides no single row: "
                             "hunt runs correlations")
        if len(self._core) != 1:
            raise ValueError("the rule cannot be compiled exactly: " +
                             (rejected[0]["reason"] if rejected
                              else "no rule document"))
        self.rule = self._core.loaded[0]
        for note in self.rule["notes"]:
            warnings.warn(note, RuleWarning, stacklevel=3)

    # Pickled as the rule's text, so that it travels where the file is not.
    def __reduce__(self):
        source, placeholders, utc = self._source
        if not (isinstance(source, str) and "\n" in source):
            with open(os.fspath(source), encoding="utf-8") as f:
                source = f.read()
        return (SigmaFilter, (source, placeholders, utc))

    @property
    def lines(self):
        """The condition lines, as the line objects of a definition file; a
        line the host decides has "host" saying what it checks."""
        tuples, host = self._core.lines(0)
        lines = json.loads(_core.definition_json(tuples))["lines"]
        for line, written in host:
            lines[line]["host"] = written
        return lines

    def mask(self, df):
        """One bool per row of the pandas DataFrame: does the row match."""
        # The rule was asked for by name: it runs whatever the frame holds.
        rows, _, notes, _ = _hunt_frame(self._core, df, "any")
        _warn_cells(notes)
        result = np.zeros(len(df), dtype=bool)
        result[rows] = True
        return result

    def __repr__(self):
        return "SigmaFilter(%r)" % self.rule["title"]


# Fields an event's time may be in, most telling first (as evfilter hunt).
_TIME_FIELDS = ("TimeCreated", "UtcTime", "@timestamp", "timestamp",
                "TimeGenerated", "Date and Time", "EventTime", "time", "ts")
_DETECTION_COLUMNS = ["rule_id", "rule_title", "level", "input", "record_id",
                      "timestamp", "event"]
_LEVELS = ["informational", "low", "medium", "high", "critical"]


def sigma_rules(rules, placeholders=None):
    """A DataFrame of the Sigma rules under `rules` (files, folders, or one
    rule's YAML text) and what each came to: ``load`` is "loaded",
    "not supported: REASON" or "unreadable: REASON", as ``evfilter hunt
    --list`` writes it."""
    import pandas as pd

    core = _sigma_core(*_rule_sources(rules), placeholders, False)
    rows = [dict(r, load="loaded") for r in core.loaded]
    for r, why in zip(core.correlations, core.correlation_problems()):
        rows.append(dict(r, load="not supported: " + why if why
                         else "loaded"))
    for r in core.rejected:
        rows.append(dict(r, load=("unreadable: " if r["unreadable"] else
                                  "not supported: ") + r["reason"]))
    columns = ["file", "document", "id", "title", "level", "status", "load"]
    return pd.DataFrame([{c: r.get(c) for c in columns} for r in rows],
                        columns=columns)


def hunt(frame_or_paths, rules, placeholders=None, min_level=None,
         status=None, utc=False, format=None, encoding=None, product=None,
         ids=None, tags=None, exclude_ids=None, exclude_file=None,
         filters=None, since=None, until=None, where=None):
    """A DataFrame of detections: every (event, rule) that matches, in input
    order, then rule id, with the columns rule_id, rule_title, level, input,
    record_id, timestamp and event, as ``evfilter hunt`` writes them.

    `frame_or_paths` is a pandas DataFrame (input None, record_id the row's
    1-based number) or paths and globs read with ``read_events`` (record_id
    the EventRecordID of a Windows event log, else the record's 1-based
    number in its input). `rules` names rule files and folders (searched
    recursively for .yml and .yaml), or is one rule's YAML text;
    `placeholders` maps a placeholder name to its value or values for
    |expand. Rules that are not supported are skipped with a
    ``RuleWarning``; a rule file that cannot be read raises ReadError.

    As ``evfilter hunt`` does, a rule of another product's logs is not run:
    a Windows event log is Windows', any other input's product is told by
    its columns (EventID or Channel: Windows; eventSource and awsRegion:
    AWS). `product` names the inputs' product instead ("any": every rule
    runs on every input); a product no rule names raises ValueError.

    The rules run are chosen as ``evfilter hunt`` chooses them: of
    `min_level` or above, of a `status` given, of the `ids` given, with one
    of the `tags` given or a tag below one (attack.t1059 takes
    attack.t1059.001), less `exclude_ids` and the ids listed in
    `exclude_file` (one per line, "#" starts a comment). An id or tag no
    rule has raises ValueError, as does a choice that leaves no rule.

    `filters` names filter documents (files and folders, as a site keeps
    its tuning apart from the public rules): each removes the detections
    of the rules it names on the events it matches.

    `since` and `until` (dates or timestamps, as text or datetime; a date
    alone as `until` takes its whole day) limit the hunt to the events of
    a period, by their time field; `where` (a filter expression, as
    ``evfilter hunt --where``) to the events that match it. The rules run
    only on those; ``df.attrs["left"]`` counts the events left outside
    the period, without a readable time, and not matching `where`.

    Correlation rules among `rules` run as ``evfilter hunt`` runs them,
    over the detections of the rules they name, in time order across the
    inputs: each correlation detection is a row at the end, with input
    and record_id missing and as event a dict of "correlation" (its type),
    "group" (the values grouped by) and "events" (rule_id, input,
    record_id and timestamp of the detections that made it). The rules a
    correlation names give no rows of their own unless it says `generate:
    true`. ``df.attrs["correlations"]`` counts each correlation's
    detections, by id.

    ``hunt_summary(df)`` gives evfilter's summary of the detections as a
    frame: the rules that fired, by level, by host, first and last time."""
    import pandas as pd

    core = _sigma_core(*_rule_sources(rules), placeholders, utc)
    scope = _scope(core, since, until, where)
    _use_filters(core, filters)
    _report_rules(core)
    metas = core.loaded
    chosen = _chosen(core, (min_level, status, ids, tags, exclude_ids,
                            exclude_file))
    product = _checked_product(metas, product)
    left = dict.fromkeys(("outside_period", "without_time",
                          "not_matching_where"), 0)
    for note in core.begin_correlations(chosen):
        warnings.warn(note, RuleWarning, stacklevel=2)
    if isinstance(frame_or_paths, pd.DataFrame):
        out = _detections(core, metas, chosen, frame_or_paths, product,
                          scope, left)
    else:
        out = []
        for path in _expand(frame_or_paths):
            out.extend(_file_detections(core, metas, chosen, path, format,
                                        None, encoding, product, scope,
                                        left))
    correlated = _correlations(core, out)
    df = pd.DataFrame(out, columns=_DETECTION_COLUMNS)
    if correlated:
        df["record_id"] = df["record_id"].astype("Int64")
    df.attrs["left"] = left
    df.attrs["correlations"] = correlated
    return df


def _correlations(core, out):
    """Appends the correlation detections over the detections kept to
    `out`, in time order; the count of each correlation run, by id."""
    found = core.correlate()
    if found["without_time"]:
        warnings.warn("%d detection(s) of rules a correlation names have no "
                      "readable time: not correlated" % found["without_time"],
                      RuleWarning, stacklevel=3)
    counts = dict.fromkeys(found["run"], 0)
    for f in found["found"]:
        counts[f["id"]] += 1
        out.append((f["id"], f["title"], f["level"], None, None,
                    f["timestamp"], {"correlation": f["type"],
                                     "group": f["group"],
                                     "events": f["events"]}))
    return counts


def hunt_summary(detections, utc=False):
    """The summary ``evfilter hunt`` gives, of a frame of detections (what
    hunt returns, or a Dask hunt's, which is computed): a DataFrame of the
    rules that fired, most detections first, then by id, with the columns
    rule_id, rule_title, level and detections.
    Its attrs hold the rest: "detections"; "by_level", the detections per
    level, critical first ("none" for a rule with no level); "hosts", the
    detections per event Computer, most first ("" for none); "first" and
    "last", the earliest and latest detected event's time as the event
    wrote it (None when none has a readable time), ordered as evfilter
    orders times, `utc` as hunt's; "without_time", the detections on
    events with no readable time; and "correlations", each correlation's
    detections by id (rows of correlations are counted there only)."""
    import pandas as pd

    if hasattr(detections, "compute"):  # a Dask frame
        detections = detections.compute()
    correlations = dict(detections.attrs.get("correlations") or {})
    if correlations:
        detections = detections[~detections["rule_id"].isin(correlations)]
    by_level = dict.fromkeys(list(reversed(_LEVELS)) + ["none"], 0)
    rules, hosts = {}, {}
    first = last = None
    without_time = 0
    for rule_id, title, level, timestamp, event in zip(
            detections["rule_id"], detections["rule_title"],
            detections["level"], detections["timestamp"],
            detections["event"]):
        rules.setdefault(rule_id, [title, level, 0])[2] += 1
        by_level[level if level in by_level else "none"] += 1
        host = _cell_named(event, "Computer")
        hosts[host] = hosts.get(host, 0) + 1
        if hasattr(timestamp, "isoformat"):  # a datetime, pandas' too
            timestamp = timestamp.isoformat()
        key = (_core.time_key(timestamp, utc)
               if isinstance(timestamp, str) else None)
        if key is None:
            without_time += 1
            continue
        if first is None or key < first[0]:
            first = (key, timestamp)
        if last is None or key > last[0]:
            last = (key, timestamp)
    fired = sorted(rules.items(), key=lambda r: (-r[1][2], r[0]))
    out = pd.DataFrame([(i, t, l, n) for i, (t, l, n) in fired],
                       columns=["rule_id", "rule_title", "level",
                                "detections"])
    out.attrs.update(
        detections=len(detections), by_level=by_level,
        hosts=dict(sorted(hosts.items(), key=lambda h: (-h[1], h[0]))),
        first=first and first[1], last=last and last[1],
        without_time=without_time, correlations=correlations)
    return out


def _cell_named(event, name):
    """An event's field `name`, exactly, else ignoring ASCII case, as
    text; "" when it has none."""
    if not isinstance(event, dict):
        return ""
    value = event.get(name)
    if value is None:
        lower = name.lower()
        value = next((v for k, v in event.items()
                      if k.lower() == lower), None)
    return "" if value is None else str(value)


def _scope(core, since, until, where):
    """The (since, until, where) texts a hunt takes, checked: a bound that
    is no date raises ValueError, an expression ExpressionError."""
    def text(bound):
        if bound is None:
            return ""
        if hasattr(bound, "isoformat"):
            return bound.isoformat()
        return str(bound)

    scope = (text(since), text(until), "" if where is None else str(where))
    core.hunt(0, [], [], [], "any", scope)  # no rows: checks the scope
    return scope


def _add_left(left, counts):
    if left is not None:
        for key, count in counts.items():
            left[key] += count


def _chosen(core, select):
    """Per loaded rule of `core`: does `select`, (min_level, status, ids,
    tags, exclude_ids, exclude_file), run it."""
    min_level, status, ids, tags, exclude_ids, exclude_file = select

    def listed(value):
        if value is None:
            return []
        if isinstance(value, (str, os.PathLike)):
            return [os.fspath(value)]
        return [os.fspath(v) if isinstance(v, os.PathLike) else str(v)
                for v in value]

    chosen = core.chosen(min_level or "", listed(status), listed(ids),
                         listed(tags), listed(exclude_ids),
                         listed(exclude_file))
    if not any(chosen):
        raise ValueError("no rule is left by min_level, status, ids, tags "
                         "and the ids excluded")
    return chosen


def _checked_product(metas, product):
    """The product hunt's rows are of, lowercased: None tells it by input."""
    if product is None:
        return None
    product = str(product).lower()
    if product != "any" and not any(m["product"].lower() == product
                                    for m in metas):
        # A misspelt one would run the rules that name no product alone.
        raise ValueError("product %r: no rule names this product (\"any\" "
                         "runs every rule on every input)" % product)
    return product


def _detections(core, metas, chosen, df, product, scope, left):
    """The detections of a frame's rows (record_id the row's 1-based
    number)."""
    import pandas as pd

    rows, rules, notes, counts = _hunt_frame(core, df, product or "", scope)
    _warn_cells(notes)
    _add_left(left, counts)
    columns = [str(c) for c in df.columns]
    lower = {c.lower(): i for i, c in reversed(list(enumerate(columns)))}
    def column_of(field):
        return columns.index(field) if field in columns else lower.get(field.lower())
    time_columns = [column_of(f) for f in _TIME_FIELDS]
    time_columns = [c for c in time_columns if c is not None]
    out = []
    def missing(v):
        return v is None or (np.ndim(v) == 0 and bool(pd.isna(v)))
    for row, rule in zip(rows.tolist(), rules.tolist()):
        if not chosen[rule]:
            continue
        values = df.iloc[row].tolist()
        timestamp = None
        for c in time_columns:
            if not missing(values[c]):
                timestamp = values[c]
                break
        event = {columns[i]: v for i, v in enumerate(values) if not missing(v)}
        m = metas[rule]
        out.append((m["id"], m["title"], m["level"], None, row + 1,
                    timestamp, event))
    return out


def _file_detections(core, metas, chosen, path, format, piece, encoding,
                     product, scope=("", "", ""), left=None):
    """The detections of an event file (or a piece of one), read and
    decided in C++ as evfilter hunt reads and decides it; what the scope
    left is added to `left`."""
    found = core.hunt_file(path, format or "", piece, encoding or "",
                           product or "", scope)
    _report(found["reports"])
    _warn_cells(found["notes"])
    _add_left(left, found["left"])
    out = []
    for rule, record_id, timestamp, event in found["detections"]:
        if chosen[rule]:
            m = metas[rule]
            out.append((m["id"], m["title"], m["level"], path, record_id,
                        timestamp, event))
    return out


def _rule_sources(rules):
    """(paths, text) of a rules argument: YAML text, or paths."""
    if isinstance(rules, str) and "\n" in rules:
        return [], rules
    if isinstance(rules, (str, os.PathLike)):
        rules = [rules]
    return [os.fspath(r) for r in rules], None


def _sigma_core(paths, text, placeholders, utc):
    values = {}
    for key, value in (placeholders or {}).items():
        if isinstance(value, (list, tuple)):
            values[str(key)] = [str(v) for v in value]
        else:
            values[str(key)] = [str(value)]
    return _core.SigmaRules(paths or [], text, values, bool(utc))


def _filter_paths(filters):
    """The paths of `filters` (one path or several), as strings."""
    if filters is None:
        return []
    if isinstance(filters, (str, os.PathLike)):
        return [os.fspath(filters)]
    return [os.fspath(f) for f in filters]


def _use_filters(core, filters, warn=True):
    """Applies the filter documents under `filters` to `core`'s rules."""
    paths = _filter_paths(filters)
    if not paths:
        return
    for note in core.use_filters(paths):
        if warn:
            warnings.warn(note, RuleWarning, stacklevel=3)


def _report_rules(core):
    unreadable = [r for r in core.rejected if r["unreadable"]]
    if unreadable:
        raise ReadError("; ".join("%s: %s" % (r["file"], r["reason"])
                                  for r in unreadable))
    rejected = core.rejected
    if rejected:
        shown = "; ".join("%s (%s): %s" % (r["file"], r["id"], r["reason"])
                          for r in rejected[:5])
        more = "" if len(rejected) <= 5 else "; and %d more" % (len(rejected) - 5)
        warnings.warn("%d rule(s) not supported and skipped: %s%s" %
                      (len(rejected), shown, more), RuleWarning, stacklevel=3)
    unmapped = sum(1 for r in core.loaded if r["notes"])
    if unmapped:
        warnings.warn("%d rule(s) with a log source that has no mapping to "
                      "event log fields, run on more events" % unmapped,
                      RuleWarning, stacklevel=3)
    if len(core) == 0:
        raise ValueError("no rule could be loaded from the rules given")


def _hunt_frame(core, df, product, scope=("", "", "")):
    import pandas as pd

    if not isinstance(df, pd.DataFrame):
        raise TypeError("a pandas DataFrame is needed")
    names, kinds, arrays = [], [], []
    for position in range(df.shape[1]):
        kind, array = _column(df.iloc[:, position])
        names.append(str(df.columns[position]))
        kinds.append(kind)
        arrays.append(array)
    return core.hunt(len(df), names, kinds, arrays, product, scope)


def _warn_cells(notes):
    for field, wanted, count, first_place, first_cell in notes:
        warnings.warn("%d value(s) of %r cannot be read as %s (first at %s: "
                      "%r); their conditions are false before NOT" %
                      (count, field, wanted, first_place, first_cell),
                      FilterWarning, stacklevel=3)


def _text_form(line_tuples, utc):
    """The text form, from a process whose module log is at trace level."""
    import subprocess
    import sys

    env = dict(os.environ, FILTERMODULE_DEBUG_LOG="1")
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    env["PYTHONPATH"] = os.pathsep.join(
        [package_parent] + [p for p in [os.environ.get("PYTHONPATH")] if p])
    env.pop("FILTERMODULE_LOG_FOLDER", None)  # its own private folder
    done = subprocess.run(
        [sys.executable, "-c",
         "import json, sys, filtermodule as fm; a = json.load(sys.stdin); "
         "sys.stdout.write(fm.Filter._from_lines(a['lines'], a['utc']).text)"],
        input=json.dumps({"lines": line_tuples, "utc": utc}), env=env,
        capture_output=True, text=True, encoding="utf-8", check=False)
    if done.returncode != 0 or not done.stdout:
        raise RuntimeError("cannot get the filter's text form: " +
                           done.stderr.strip()[-500:])
    return done.stdout


def _warn(notes, missing, columns=()):
    for field, kind, wanted, count, first_row, first_cell in notes:
        if kind == "unreadable":
            what = "%d value(s) of %r cannot be read as %s (first at row %d: %r); " \
                   "their conditions are false before NOT" % (
                       count, field, wanted, first_row, first_cell)
        elif kind == "not utf-8":
            what = "%d value(s) of %r hold bytes that are no UTF-8, as " \
                   "surrogate escapes (first at row %d: %r); each such byte " \
                   "was compared as a character of its own" % (
                       count, field, first_row, first_cell)
        else:
            what = "%d value(s) of %r are beyond the module's exact numbers " \
                   "(first at row %d: %r); they were decided exactly" % (
                       count, field, first_row, first_cell)
        warnings.warn(what, FilterWarning, stacklevel=3)
    for field, why in missing:
        if why:
            what = "%r: %s; its conditions see a missing value" % (field, why)
        else:
            what = "no column is named %r (columns: %s); its conditions see " \
                   "a missing value" % (field, ", ".join(map(str, columns)))
        warnings.warn(what, FilterWarning, stacklevel=3)


def read_events(paths, format=None, encoding=None):
    """A pandas DataFrame of the records of event files, read as evfilter reads them.

    `paths` is a path, a glob or a list of them, read in order; the format
    of each comes from `format` ("csv", "tsv", "jsonl", "json" for a JSON
    array, "evtx" for a Windows event log) or, as for evfilter, from its
    name and first bytes (gzip and event logs are told by their content). The frame's columns are those of every input in
    the order they appear; a column an input lacks is None there.

    `encoding` is the files' text encoding: UTF-8 (the default), "latin1"
    or "cp1252". In UTF-8 text, a byte that is no UTF-8 is kept as its
    surrogate escape ("\\udcf6" for 0xF6, as Python's "surrogateescape"
    makes it), reported per column with a ``ReadWarning``, and compared by
    ``Filter.mask`` as the byte it stands for. Such a str cannot be written
    as UTF-8 as it is: ``to_csv(..., errors="surrogateescape")`` writes the
    byte back; ``encoding=`` avoids them for a Latin-1 or Windows export."""
    import pandas as pd

    frames = []
    per_input = []
    field_paths = {}
    for path in _expand(paths):
        read = _core.read_frame(path, format or "", encoding=encoding or "")
        _report(read["reports"])
        frames.append((read["columns"], read["arrays"], read["rows"]))
        per_input.append((path, dict(read["types"])))
        _merge_paths(field_paths, read["paths"])
    df = _frame(frames, pd)
    declared = _declared_types(per_input)
    if declared:
        # A Zeek log's #types, for Filter.mask.
        df.attrs["field_types"] = declared
    if field_paths:
        # An event log's full paths (Event.System.EventID), for Filter.mask.
        df.attrs["field_paths"] = {p: c for p, c in field_paths.items() if c}
    return df


def _merge_paths(into, paths):
    """Adds an input's field paths; a path two inputs put in two columns
    is none's (None)."""
    for path, column in paths.items():
        if into.setdefault(path, column) != column:
            into[path] = None


def _declared_types(per_input):
    """The field types that every input declares alike; evfilter types each
    input by its own, and one frame can hold one type per field only. What
    is left out is said with a ReadWarning."""
    if not any(types for _, types in per_input):
        return {}
    bare = [path for path, types in per_input if not types]
    if bare:
        warnings.warn("%s declare no field types (the others do): the frame "
                      "carries none, and its fields are typed by the "
                      "expression" % ", ".join(map(repr, bare)),
                      ReadWarning, stacklevel=3)
        return {}
    common = dict(per_input[0][1])
    for path, types in per_input[1:]:
        for name in list(common):
            if types.get(name) != common[name]:
                warnings.warn("field %r is declared %s in %r and %s in %r: the "
                              "frame leaves its type to the expression" % (
                                  name, common[name], per_input[0][0],
                                  types.get(name, "nothing"), path),
                              ReadWarning, stacklevel=3)
                del common[name]
    return common


def _expand(paths):
    """Local paths, globs expanded in order (** at any depth), folders read
    for their event files as evfilter reads them; FileNotFoundError for
    none."""
    import glob

    if isinstance(paths, (str, bytes, os.PathLike)) or not hasattr(paths, "__iter__"):
        paths = [paths]
    out = []
    for p in paths:
        p = os.fspath(p)
        if isinstance(p, bytes):
            p = os.fsdecode(p)
        if glob.has_magic(p):
            found = sorted(glob.glob(p, recursive=True))
            if not found:
                raise FileNotFoundError("no file matches %r" % (p,))
            out.extend(found)
        elif not os.path.exists(p):
            raise FileNotFoundError("no such file: %r" % (p,))
        else:
            out.append(p)
    expanded = []
    for p in out:
        files, notes = _core.expand_folders([p])
        for note in notes:
            warnings.warn(note, ReadWarning, stacklevel=3)
        if not files:
            raise FileNotFoundError("no event file in the folder %r" % (p,))
        expanded.extend(files)
    return expanded


def _report(reports):
    """Warns of what the readers reported, the first of each kind shown."""
    for kind, count, shown in reports:
        for message in shown:
            warnings.warn(message, ReadWarning, stacklevel=3)
        if count > len(shown):
            warnings.warn("%d more %s report(s)" % (count - len(shown), kind),
                          ReadWarning, stacklevel=3)


def _frame(parts, pd, columns=None):
    """One frame of (columns, arrays, rows) parts, in the union of their
    columns (or `columns`), None where a part lacks one."""
    if columns is None:
        columns = []
        for names, _, _ in parts:
            columns.extend(n for n in names if n not in columns)
    frames = []
    for names, arrays, rows in parts:
        given = dict(zip(names, arrays))
        data = {}
        for name in columns:
            if name in given:
                data[name] = given[name]
            else:
                data[name] = np.full(rows, None, dtype=object)
        # Records without a column are rows too.
        frames.append(pd.DataFrame(data, columns=columns, index=pd.RangeIndex(rows)))
    if not frames:
        return pd.DataFrame({c: pd.Series([], dtype=object) for c in columns})
    if len(frames) == 1:
        return frames[0]
    return pd.concat(frames, ignore_index=True)


def _columns(df, core):
    """The columns the filter reads, as (names, kinds, arrays) the extension
    reads in place; an empty object column stands for each other one."""
    import pandas as pd

    if not isinstance(df, pd.DataFrame):
        raise TypeError("mask needs a pandas DataFrame")
    names = [str(name) for name in df.columns]
    positions = list(range(len(names)))
    # A full path (Event.System.EventID) reads its field's column, as
    # evfilter reads the event log the frame came from.
    taken = {n.lower() for n in names}
    index = {n: i for i, n in reversed(list(enumerate(names)))}
    for path, column in getattr(df, "attrs", {}).get("field_paths", {}).items():
        if path.lower() not in taken and column in index:
            names.append(path)
            positions.append(index[column])
    needed = set(core.needed(names))
    kinds, arrays = [], []
    for i, position in enumerate(positions):
        if i in needed:
            kind, array = _column(df.iloc[:, position])
        else:
            kind, array = "text", None
        kinds.append(kind)
        arrays.append(array)
    return names, kinds, arrays


def _column(s):
    import pandas as pd
    from pandas.api import types as pt

    dtype = s.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        return _column(s.astype(object))
    if pt.is_bool_dtype(dtype) and dtype == np.bool_:
        return "bool", np.ascontiguousarray(s.to_numpy(), dtype=np.bool_)
    if isinstance(dtype, pd.DatetimeTZDtype):
        # An instant: its ISO text with the offset, read in the filter's zone.
        values = np.array([None if pd.isna(t) else t.isoformat() for t in s],
                          dtype=object)
        return "text", values
    if pt.is_datetime64_dtype(dtype):
        values = s.to_numpy().astype("datetime64[ns]").view(np.int64)
        return "datetime", np.ascontiguousarray(values)
    if pt.is_integer_dtype(dtype) and isinstance(dtype, np.dtype):
        if dtype == np.uint64:
            return "text", np.ascontiguousarray(s.to_numpy().astype(object))
        return "int64", np.ascontiguousarray(s.to_numpy(), dtype=np.int64)
    if pt.is_float_dtype(dtype) and dtype == np.float64:
        return "float64", np.ascontiguousarray(s.to_numpy(), dtype=np.float64)
    if pt.is_float_dtype(dtype) and isinstance(dtype, np.dtype):
        # Smaller floats as they print, not as their widened double.
        values = np.array([None if np.isnan(v) else str(v) for v in s.to_numpy()],
                          dtype=object)
        return "text", values
    if pt.is_object_dtype(dtype) and isinstance(dtype, np.dtype):
        # None, NaN, NA and NaT are told apart by the extension itself.
        return "text", np.ascontiguousarray(s.to_numpy())
    if pt.is_string_dtype(dtype) or isinstance(dtype, pd.api.extensions.ExtensionDtype):
        # Nullable and string extension types: their objects, NA as missing.
        return "text", np.ascontiguousarray(s.to_numpy(dtype=object, na_value=None))
    raise TypeError("column %r: cannot read values of type %s" % (s.name, dtype))
