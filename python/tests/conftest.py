"""Shared fixtures: the sample data, and evfilter as the reference.

FILTERMODULE_EVFILTER names the evfilter binary of the same build
(scripts/test-python.sh sets it), FILTERMODULE_MAKE_EVTX its test writer of
Windows event log files; the package itself comes from PYTHONPATH.
"""

import glob
import os
import subprocess

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EVENTS = os.path.join(ROOT, "examples", "events.csv")
FILTERS = sorted(glob.glob(os.path.join(ROOT, "examples", "filters", "*.json")))


def _evfilter_path():
    path = os.environ.get("FILTERMODULE_EVFILTER")
    if path:
        return path
    found = sorted(glob.glob(os.path.join(ROOT, "build", "*", "evfilter", "evfilter")))
    if not found:
        raise RuntimeError("no evfilter binary; set FILTERMODULE_EVFILTER")
    return found[0]


def make_evtx(path, count, kind="security"):
    """Writes an event log file of `count` made-up events (see
    tests/support/MakeEvtx.cpp); its path."""
    tool = os.environ.get("FILTERMODULE_MAKE_EVTX")
    if not tool:
        found = sorted(glob.glob(os.path.join(ROOT, "build", "*", "tests", "make_evtx")))
        if not found:
            raise RuntimeError("no make_evtx binary; set FILTERMODULE_MAKE_EVTX")
        tool = found[0]
    subprocess.run([tool, str(path), str(count), kind], check=True)
    return str(path)


def evfilter(*args, ok=(0, 1)):
    """Runs evfilter; its stdout. Exit 0 (matched) and 1 (none) are fine."""
    done = subprocess.run([_evfilter_path(), *args], capture_output=True,
                          text=True, check=False)
    if done.returncode not in ok:
        raise AssertionError("evfilter %s: exit %d: %s" % (args, done.returncode,
                                                          done.stderr))
    return done.stdout


def evfilter_count(filter_args, *inputs):
    """The records evfilter matches; a field the inputs lack is no error
    here, as it is none for a frame's mask."""
    return int(evfilter("match", "--count", "--allow-missing", *filter_args,
                        *inputs).split()[0])


@pytest.fixture(scope="session")
def events_text():
    """The sample as evfilter reads it: every cell a text, empty ones ''."""
    pd = pytest.importorskip("pandas")
    return pd.read_csv(EVENTS, dtype=str, keep_default_na=False)


@pytest.fixture(scope="session")
def events_typed():
    """The sample as pandas reads it by default (int64, NaN for empties)."""
    pd = pytest.importorskip("pandas")
    return pd.read_csv(EVENTS)
