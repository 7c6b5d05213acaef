"""Prints one digest per call for thousands of NaN-heavy calls of every function and
overload: signals full of NaN of both signs and payloads, infinities, signed zeros and
subnormals, at sorted, scattered and edge positions, with and without fill values.
Every build, instruction-set level, compiler and architecture must print the same lines;
`make test-levels`, `make test-compilers` and `make test-aarch64` compare them byte for
byte.

The inputs are drawn with NumPy, whose random streams and sort order (of tied -0.0 and
+0.0, and of NaNs) may differ between NumPy versions and machines. So one run records
them and every build replays that recording:

    python tests/bits.py --record CALLS.pickle   # draws, records and prints
    python tests/bits.py --replay CALLS.pickle   # the recorded calls, with this build"""

import argparse
import hashlib
import pickle

import numpy as np
import velquin_interp
from helpers import (
    ELEMENT_TYPES,
    OVERLOADS,
    boundary_positions,
    is_complex,
    random_signal,
    real_type,
)
from velquin_interp import (
    velquin_cubic_interp,
    velquin_linear_interp,
    velquin_linear_vertical_interp_2d,
)

LENGTHS = [2, 3, 4, 5, 17, 40, 300]


def nan_heavy(rng, T, size):
    """random_signal's values with a third of the components replaced by NaNs of both signs
    and several payloads."""
    signal = random_signal(rng, T, size, special_share=0.3)
    R = real_type(T)
    bits = np.dtype(f"u{np.dtype(R).itemsize}")
    payloads = np.array([np.nan, -np.nan], R).view(bits)
    payloads = np.concatenate([payloads, payloads | 1, payloads | 0x5])
    for part in (signal.real, signal.imag) if is_complex(T) else (signal,):
        chosen = rng.random(size) < 0.33
        part.view(bits)[chosen] = rng.choice(payloads, chosen.sum())
    return signal


def digest(result):
    return hashlib.sha256(result.dtype.str.encode() + result.tobytes()).hexdigest()[:16]


def drawn_calls():
    """(label, function, arguments) of every call, drawn with a fixed seed."""
    rng = np.random.default_rng(2026)
    for function in (velquin_linear_interp, velquin_cubic_interp):
        for T, X in OVERLOADS:
            for n in LENGTHS:
                for trial in range(48):
                    signal = nan_heavy(rng, T, n)
                    x = boundary_positions(rng, X, n, count=3 * n)
                    if trial % 3 == 1:
                        x = np.sort(x)
                    fills = (None, None) if trial % 2 else tuple(nan_heavy(rng, T, 2))
                    name = f"{function.__name__} {np.dtype(T)} {np.dtype(X)} n={n} #{trial}"
                    yield name, function, (signal, x, *fills)
    for T in ELEMENT_TYPES:
        for rows, cols in [(2, 1), (3, 17), (5, 40)]:
            signal = nan_heavy(rng, T, rows * cols).reshape(rows, cols)
            for x in [-1.0, 0.0, -0.0, 0.25, 0.5, rows - 1.5, rows - 1.0, np.nan, np.inf]:
                name = f"velquin_linear_vertical_interp_2d {np.dtype(T)} {rows}x{cols} x={x}"
                yield name, velquin_linear_vertical_interp_2d, (signal, x)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--record", metavar="FILE", help="also write the drawn calls to FILE")
    which.add_argument("--replay", metavar="FILE", help="make the calls recorded in FILE")
    args = parser.parse_args()
    if args.replay:
        with open(args.replay, "rb") as recording:
            calls = [
                (name, getattr(velquin_interp, function), arguments)
                for name, function, arguments in pickle.load(recording)
            ]
    else:
        calls = list(drawn_calls())
    if args.record:
        with open(args.record, "wb") as recording:
            pickle.dump([(name, f.__name__, arguments) for name, f, arguments in calls], recording)
    for name, function, arguments in calls:
        print(name, digest(function(*arguments)))


if __name__ == "__main__":
    main()
