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
import warnings

import numpy as np

from . import _core

__all__ = ["Filter", "read_events", "ExpressionError", "BuildError",
           "ReadError", "FilterWarning", "ReadWarning"]
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
            line_tuples = _core.compile_where(where, dict(types or {}))
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
        """One bool per row of the pandas DataFrame: does the row match."""
        names, kinds, arrays = _columns(df, self._core)
        result, notes, missing = self._core.mask(len(df), names, kinds, arrays)
        _warn(notes, missing, list(df.columns))
        return result

    def __repr__(self):
        return "Filter(%r)" % self.text


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
    for path in _expand(paths):
        read = _core.read_frame(path, format or "", encoding=encoding or "")
        _report(read["reports"])
        frames.append((read["columns"], read["arrays"], read["rows"]))
    return _frame(frames, pd)


def _expand(paths):
    """Local paths, globs expanded in order; FileNotFoundError for none."""
    import glob

    if isinstance(paths, (str, bytes, os.PathLike)) or not hasattr(paths, "__iter__"):
        paths = [paths]
    out = []
    for p in paths:
        p = os.fspath(p)
        if isinstance(p, bytes):
            p = os.fsdecode(p)
        if glob.has_magic(p):
            found = sorted(glob.glob(p))
            if not found:
                raise FileNotFoundError("no file matches %r" % (p,))
            out.extend(found)
        elif not os.path.exists(p):
            raise FileNotFoundError("no such file: %r" % (p,))
        else:
            out.append(p)
    return out


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
    needed = set(core.needed(names))
    kinds, arrays = [], []
    for position in range(len(names)):
        if position in needed:
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
