"""Calls from many threads at once give the results of the same calls made one by one, on
interpreters with the GIL and without it; what another thread may do to a call's inputs."""

import os
import subprocess
import sys
import sysconfig
import threading

import numpy as np
import pytest
from helpers import (
    ELEMENT_TYPES,
    ONE_DIMENSIONAL,
    OVERLOADS,
    assert_same_bits,
    boundary_positions,
    random_signal,
)
from velquin_interp import velquin_cubic_interp as cubic
from velquin_interp import velquin_linear_interp as linear
from velquin_interp import velquin_linear_vertical_interp_2d as vertical

THREADS = 8
ROUNDS = 20


def workload(seed):
    """Calls of every overload of every function, on inputs of this thread's own, with a few
    that fail."""
    rng = np.random.default_rng(seed)
    calls = []
    for T, X in OVERLOADS:
        n = int(rng.integers(2, 300))
        signal, x = random_signal(rng, T, n), boundary_positions(rng, X, n)
        calls += [
            (linear, (signal, x, seed, None)),
            (cubic, (signal, x, None, -seed)),
            (linear, (signal[::2], x)),
            (cubic, (signal, x, "left")),
        ]
    for T in ELEMENT_TYPES:
        rows = random_signal(rng, T, 5 * 40).reshape(5, 40)
        calls += [(vertical, (rows, float(rng.uniform(-1, 5)))), (vertical, (rows[:1], 0.5))]
    return calls


def outcome(function, args):
    try:
        return function(*args)
    except RuntimeError as error:
        return str(error)


def assert_same_outcomes(actual, expected):
    assert len(actual) == len(expected)
    for a, e in zip(actual, expected, strict=True):
        if isinstance(e, str):
            assert a == e
        else:
            assert_same_bits(a, e)


FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def run_threads(count, target):
    """Runs target(index) in `count` threads started at once; re-raises the first failure."""
    failures = []
    start = threading.Barrier(count)

    def run(index):
        try:
            start.wait()
            target(index)
        except BaseException as error:  # reported by the main thread
            failures.append(error)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # with a GIL, switch threads as often as the interpreter allows
    try:
        threads = [threading.Thread(target=run, args=(i,)) for i in range(count)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    if failures:
        raise failures[0]


@pytest.mark.parametrize("inputs", ["own", "shared"])
def test_threads_give_sequential_results(inputs):
    # Shared: every thread reads the same arrays and fill objects at once.
    workloads = [workload(seed if inputs == "own" else 0) for seed in range(THREADS)]
    sequential = [[outcome(f, args) for f, args in calls] for calls in workloads]
    outcomes = [[] for _ in range(THREADS)]

    def run(index):
        for _ in range(ROUNDS):
            outcomes[index].append([outcome(f, args) for f, args in workloads[index]])

    run_threads(THREADS, run)
    for index in range(THREADS):
        assert len(outcomes[index]) == ROUNDS
        for round_outcomes in outcomes[index]:
            assert_same_outcomes(round_outcomes, sequential[index])


@pytest.mark.skipif(not FREE_THREADED, reason="an interpreter with a GIL keeps it on")
def test_import_leaves_the_interpreter_without_gil():
    # An extension that does not declare that it runs without the GIL turns it back on for
    # the whole process when imported, with a RuntimeWarning.
    env = {k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}
    code = "import sys, velquin_interp; print(sys._is_gil_enabled())"
    done = subprocess.run(
        [sys.executable, "-W", "error", "-c", code], env=env, capture_output=True, text=True
    )
    assert (done.returncode, done.stdout, done.stderr) == (0, "False\n", "")


def test_first_calls_at_once():
    # The first calls of a process detect the instruction-set level: threads that make them
    # at once must each get it whole (a fresh interpreter, so that these calls are the first).
    code = """if True:
        import threading, numpy as np, velquin_interp as vi
        signal, x = np.arange(1000.0), np.linspace(-1, 1000, 2000)
        calls = [(signal, x[:5]), (signal, x)] * 4
        start, results = threading.Barrier(len(calls)), [None] * len(calls)
        def run(i):
            start.wait()
            results[i] = vi.velquin_cubic_interp(*calls[i]).tobytes()
        threads = [threading.Thread(target=run, args=(i,)) for i in range(len(calls))]
        for t in threads: t.start()
        for t in threads: t.join()
        assert results == [vi.velquin_cubic_interp(*c).tobytes() for c in calls]
    """
    subprocess.run([sys.executable, "-W", "error", "-c", code], check=True)


CALLS = 300


@pytest.mark.parametrize("interp", ONE_DIMENSIONAL)
def test_rebinding_an_argument_in_another_thread(interp):
    # A call holds its own references: rebinding the caller's name, which may drop the
    # last other reference to an input, never frees what the call reads.
    inputs = [np.arange(float(n)) for n in (1000, 2000)]
    x = np.linspace(-1.0, 2001.0, 500)
    expected = {a.size: interp(a, x) for a in inputs}
    shared = {"signal": inputs[0].copy()}
    results = []

    def run(index):
        for call in range(CALLS):
            if index == 0:
                results.append(interp(shared["signal"], x))
            else:
                shared["signal"] = inputs[call % 2].copy()

    run_threads(2, run)
    for result in results:
        assert any(np.array_equal(result, e) for e in expected.values())


@pytest.mark.parametrize("interp", ONE_DIMENSIONAL)
def test_fill_changed_by_another_thread_is_converted_once(interp):
    # Each call converts a fill once: every position left of the signal gets the same value.
    class Fill:
        value = 1.0

        def __float__(self):
            return self.value

    fill = Fill()
    signal, x = np.arange(10.0), np.full(1000, -1.0)
    results = []

    def run(index):
        for call in range(CALLS):
            if index == 0:
                results.append(interp(signal, x, fill))
            else:
                fill.value = float(call % 2 + 1)

    run_threads(2, run)
    for result in results:
        assert np.unique(result).tolist() in ([1.0], [2.0])


@pytest.mark.parametrize("interp", ONE_DIMENSIONAL)
def test_resize_with_refcheck_during_a_call_is_refused(interp):
    # NumPy refuses to resize an array that something else references, and a call holds a
    # reference to each input until it returns: a resize from another thread while a call
    # runs (here: while its fill converts) fails, and the call reads the whole signal.
    n = 10**5
    signal = np.arange(float(n))
    x = np.linspace(-1.0, n, 1000)
    expected = interp(signal.copy(), x, 0.5)
    refusals = []

    def resize():
        try:
            signal.resize(n // 2)
        except ValueError as error:
            refusals.append(str(error))

    class Fill:
        def __float__(self):
            thread = threading.Thread(target=resize)
            thread.start()
            thread.join()
            return 0.5

    assert_same_bits(interp(signal, x, Fill()), expected)
    assert len(refusals) == 1 and refusals[0].startswith("cannot resize an array")
    assert signal.shape == (n,)
