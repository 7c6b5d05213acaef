"""Calls from many threads at once give the results of the same calls made one by one."""

import sys
import threading

import numpy as np
from helpers import ELEMENT_TYPES, OVERLOADS, assert_same_bits, boundary_positions, random_signal
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


def test_threads_give_sequential_results():
    workloads = [workload(seed) for seed in range(THREADS)]
    sequential = [[outcome(f, args) for f, args in calls] for calls in workloads]
    outcomes = [[] for _ in range(THREADS)]
    failures = []
    start = threading.Barrier(THREADS)

    def run(index):
        try:
            start.wait()
            for _ in range(ROUNDS):
                outcomes[index].append([outcome(f, args) for f, args in workloads[index]])
        except BaseException as error:  # reported by the main thread
            failures.append(error)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads as often as the interpreter allows
    try:
        threads = [threading.Thread(target=run, args=(i,)) for i in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    assert not failures
    for index in range(THREADS):
        assert len(outcomes[index]) == ROUNDS
        for round_outcomes in outcomes[index]:
            assert_same_outcomes(round_outcomes, sequential[index])
