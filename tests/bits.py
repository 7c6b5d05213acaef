"""Prints one digest per call for thousands of NaN-heavy calls of every function and
overload: signals full of NaN of both signs and payloads, infinities, signed zeros and
subnormals, at sorted, scattered and edge positions, with and without fill values.
Every build, instruction-set level and compiler must print the same lines; `make
test-levels` and `make test-compilers` compare them byte for byte."""

import hashlib

import numpy as np
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


def main():
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
                    print(name, digest(function(signal, x, *fills)))
    for T in ELEMENT_TYPES:
        for rows, cols in [(2, 1), (3, 17), (5, 40)]:
            signal = nan_heavy(rng, T, rows * cols).reshape(rows, cols)
            for x in [-1.0, 0.0, -0.0, 0.25, 0.5, rows - 1.5, rows - 1.0, np.nan, np.inf]:
                name = f"velquin_linear_vertical_interp_2d {np.dtype(T)} {rows}x{cols} x={x}"
                print(name, digest(velquin_linear_vertical_interp_2d(signal, x)))


if __name__ == "__main__":
    main()
