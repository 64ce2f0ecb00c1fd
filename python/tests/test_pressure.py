"""Values and moments that used to give a wrong answer or none at all: a
NUL inside a text, numpy scalars and Decimal in object columns, and Ctrl-C
during a long mask."""

import decimal
import os
import signal
import subprocess
import sys
import textwrap
import time
import warnings

import numpy as np
import pytest

pd = pytest.importorskip("pandas")

import filtermodule as fm  # noqa: E402


def _mask(where, df):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        got = fm.Filter(where).mask(df)
    return list(got), [str(w.message) for w in seen]


def test_a_text_with_a_nul_is_unreadable_not_cut():
    df = pd.DataFrame({"b": ["admin\x00evil", "admin", "evil"]})
    got, said = _mask("b = admin", df)
    assert got == [False, True, False]
    assert any("cannot be read as text without NUL characters" in s
               and "admin\\\\0evil" in s for s in said), said
    assert _mask("b CONTAINS evil", df)[0] == [False, False, True]
    assert _mask("NOT b = admin", df)[0] == [True, False, True]
    # A value of the filter itself with a NUL never reaches the module.
    with pytest.raises(Exception, match="NUL character"):
        fm.Filter("b = 'admin\x00evil'")


@pytest.mark.parametrize("value, where, expected", [
    (np.int64(4625), "n = 4625", True),
    (np.int32(-7), "n < 0", True),
    (np.uint8(200), "n > 199", True),
    (np.float32(0.1), "n = 0.1", True),
    (np.float32(2.5), "n > 2.4", True),
    (np.float32("nan"), "n > 1", False),
    (np.bool_(True), "n:text = true", True),
    (np.bool_(False), "n:text = true", False),
    (decimal.Decimal("12.50"), "n = 12.5", True),
    (decimal.Decimal("1E+2"), "n = 100", True),
    (decimal.Decimal("NaN"), "n > 1", False),
])
def test_numpy_scalars_and_decimals_read_as_their_values(value, where,
                                                         expected):
    df = pd.DataFrame({"n": pd.Series([value, None], dtype=object)})
    got, said = _mask(where, df)
    assert got == [expected, False], said
    assert not any("cannot be read" in s for s in said), said


def test_ctrl_c_interrupts_a_long_mask_within_a_fifth_of_a_second():
    # The child prints "ready" just before a mask of many seconds; SIGINT
    # must end it with KeyboardInterrupt long before the mask would end.
    script = textwrap.dedent("""
        import sys, time
        import pandas as pd
        import filtermodule as fm
        n = 3_000_000
        df = pd.DataFrame({"a": pd.Series(range(n), dtype=object).astype(str),
                           "b": pd.Series(range(n), dtype=object)})
        f = fm.Filter("a LIKE '*9*9*9*' AND b > 5")
        started = time.monotonic()
        f.mask(df)
        print("ready %.3f" % (time.monotonic() - started), flush=True)
        started = time.monotonic()
        try:
            for _ in range(20):
                f.mask(df)
            print("finished", flush=True)
        except KeyboardInterrupt:
            print("interrupted %.3f" % (time.monotonic() - started),
                  flush=True)
    """)
    child = subprocess.Popen([sys.executable, "-c", script],
                             stdout=subprocess.PIPE, text=True,
                             env=dict(os.environ))
    ready = child.stdout.readline().split()
    assert ready[0] == "ready"
    one_mask = float(ready[1])
    time.sleep(0.3)
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    line = child.stdout.readline().strip()
    waited = time.monotonic() - sent
    child.wait(timeout=60)
    assert line.startswith("interrupted"), line
    # Well before the mask under way would have ended.
    assert waited < min(0.2 + 0.2, one_mask / 2), (waited, one_mask)
