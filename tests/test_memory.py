"""Many calls, successful or failing, leave no trace: no reference kept to an input, no
memory held by the module or by NumPy, and no input changed."""

import contextlib
import gc
import mmap
import os
import sys
import tracemalloc

import numpy as np
import pytest
import velquin_interp
from helpers import FIGURES, snapshot
from velquin_interp import velquin_cubic_interp as cubic
from velquin_interp import velquin_linear_interp as linear
from velquin_interp import velquin_linear_vertical_interp_2d as vertical

CALLS = 100_000
# The dispatcher's own TypeError renders every signature into its message, about 2 ms a call.
DISPATCH_FAILURE_CALLS = 2_000
# A leaked 64-sample result per call would hold 100,000 * 512 bytes, more than 50 MB.
TRACED_LIMIT = 256 * 1024
RESIDENT_LIMIT = 4 * 1024 * 1024

SIGNAL = np.linspace(-1.0, 1.0, 64)
X = np.linspace(-2.0, 70.0, 64)


def one_dimensional_paths(function):
    """Every way through the one-dimensional frame, with the error each one ends in."""
    return {
        f"{function.__name__} result": (function, (SIGNAL, X, -1.0, None), None),
        f"{function.__name__} converted inputs": (function, ([0, 1, 2.5], [0, 1, 2]), None),
        f"{function.__name__} not contiguous": (function, (SIGNAL[::2], X), RuntimeError),
        f"{function.__name__} not 1-d": (function, (SIGNAL.reshape(8, 8), X), RuntimeError),
        f"{function.__name__} too short": (function, (SIGNAL[:1], X), RuntimeError),
        f"{function.__name__} left": (function, (SIGNAL, X, "left"), RuntimeError),
        f"{function.__name__} right": (function, (SIGNAL, X, None, [1.0]), RuntimeError),
        f"{function.__name__} no overload": (function, (SIGNAL, "x"), TypeError),
    }


ROWS = SIGNAL.reshape(8, 8)
PATHS = {
    **one_dimensional_paths(linear),
    **one_dimensional_paths(cubic),
    "vertical result": (vertical, (ROWS, 2.5), None),
    "vertical converted inputs": (vertical, (ROWS.tolist(), 2), None),
    "vertical not contiguous": (vertical, (ROWS.T, 2.5), RuntimeError),
    "vertical not 2-d": (vertical, (SIGNAL, 2.5), RuntimeError),
    "vertical too few rows": (vertical, (ROWS[:1], 2.5), RuntimeError),
    "vertical no overload": (vertical, (ROWS, "x"), TypeError),
}


def call_repeatedly(function, args, error, calls):
    if error is None:
        for _ in range(calls):
            function(*args)
    else:
        for _ in range(calls):
            with contextlib.suppress(error):
                function(*args)


# Resident memory and the loaded libraries are read from Linux's /proc; elsewhere only the
# memory that Python traces is bounded.
ON_LINUX = sys.platform.startswith("linux")


def resident_bytes():
    if not ON_LINUX:
        return 0
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * mmap.PAGESIZE


def loaded_libraries():
    if not ON_LINUX:
        return ""
    with open("/proc/self/maps") as maps:
        return maps.read()


# AddressSanitizer keeps freed memory in quarantine, so resident memory grows by design.
SANITIZED = "libasan" in loaded_libraries()


@pytest.mark.skipif("VELQUIN_SANITIZE" not in os.environ, reason="runs under make sanitize")
def test_sanitizers_are_loaded():
    """A run that lost the checked build or its runtimes would pass silently otherwise."""
    assert SANITIZED and "libubsan" in loaded_libraries()
    with open(velquin_interp.__file__, "rb") as module:
        checks = module.read()
    assert b"__asan_report_load8" in checks
    assert b"__ubsan_handle_float_cast_overflow" in checks


def assert_bounded(name, growth, limit):
    key = f"memory: largest {name} growth (KiB)"
    FIGURES[key] = max(FIGURES[key], growth // 1024)
    assert growth < limit, f"{name} memory grew by {growth} bytes"


@pytest.mark.slow
@pytest.mark.parametrize("function,args,error", PATHS.values(), ids=PATHS.keys())
def test_repeated_calls_leave_no_trace(function, args, error):
    calls = DISPATCH_FAILURE_CALLS if error is TypeError else CALLS
    # None is shared by all code (and mortal before Python 3.12): its count says nothing here.
    counted = [a for a in args if a is not None]
    references = [sys.getrefcount(a) for a in counted]
    contents = [snapshot(a) for a in args]
    call_repeatedly(function, args, error, 1000)  # first-use caches settle here
    gc.collect()
    resident = resident_bytes()
    tracemalloc.start()
    try:
        call_repeatedly(function, args, error, calls)
        gc.collect()
        traced, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    growth = resident_bytes() - resident
    FIGURES["memory: calls made"] += calls
    assert_bounded("traced", traced, TRACED_LIMIT)
    if ON_LINUX and not SANITIZED:
        assert_bounded("resident", growth, RESIDENT_LIMIT)
    assert [sys.getrefcount(a) for a in counted] == references
    assert [snapshot(a) for a in args] == contents
